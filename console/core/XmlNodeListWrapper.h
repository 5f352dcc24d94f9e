#pragma once
// A list of nodes found in a build list, in document order; empty when the
// search failed.

#include "console/core/XmlNodeWrapper.h"

#include <pugixml.hpp>

#include <cstddef>

class CXmlNodeListWrapper {
public:
    CXmlNodeListWrapper() = default;
    explicit CXmlNodeListWrapper(pugi::xpath_node_set nodes);

    bool IsEmpty() const { return !found_; }
    size_t Length() const { return nodes_.size(); }
    // The node at index; an empty node beyond the end.
    CXmlNodeWrapper GetNode(size_t index) const;

private:
    pugi::xpath_node_set nodes_;
    bool found_ = false;
};
