#pragma once
// Live-instance counts of the four attribute classes. Each constructor adds
// one and each destructor takes one away; at process exit every count that
// is not zero is reported to the debugger output as a leak.

#include "platform/win/WinTypes.h"

#include <atomic>
#include <string>

enum class AttributeClass { Directory, Query, Attribute, List };

struct ClassReferenceCount {
    // Atomic: the server builds and drops directories on many call threads at once.
    std::atomic<LONG> count{0};
    char name[520] = {};

    constexpr explicit ClassReferenceCount(const char* className)
    {
        for (std::size_t i = 0; className[i] != '\0' && i + 1 < sizeof name; ++i)
            name[i] = className[i];
    }
};

ClassReferenceCount& ClassReferenceCountOf(AttributeClass which);

// The number of live objects of the class.
LONG LiveAttributeObjects(AttributeClass which);

// The lines the exit report writes: "<class>: Reference Count = <n>\n" for
// each class with a count that is not zero ("" when nothing leaked).
std::string LiveAttributeObjectsReport();

// RAII helper for the classes' constructors and destructors.
class ClassInstanceCounter {
public:
    explicit ClassInstanceCounter(AttributeClass which) : which_(which) { ++ClassReferenceCountOf(which_).count; }
    ~ClassInstanceCounter() { --ClassReferenceCountOf(which_).count; }
    ClassInstanceCounter(const ClassInstanceCounter&) = delete;
    ClassInstanceCounter& operator=(const ClassInstanceCounter&) = delete;

private:
    AttributeClass which_;
};
