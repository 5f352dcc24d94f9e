#pragma once
// One element of a loaded build list. It refers into its document, which must
// outlive it.

#include <pugixml.hpp>

#include <string>

class CXmlNodeListWrapper;

class CXmlNodeWrapper {
public:
    CXmlNodeWrapper() = default;
    explicit CXmlNodeWrapper(pugi::xml_node node) : node_(node) {}

    bool IsEmpty() const { return !node_; }
    // The nodes an XPath expression selects from this node; an empty list
    // when there is no node or the expression cannot be evaluated.
    CXmlNodeListWrapper FindNodes(const char* xpath) const;
    // The text of the attribute name; "" when the node or the attribute is missing.
    std::string GetValue(const char* name) const;

private:
    pugi::xml_node node_;
};
