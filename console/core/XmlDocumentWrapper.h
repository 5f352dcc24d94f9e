#pragma once
// A build list loaded from the web (or from text) and parsed as XML.

#include "console/core/HttpFetch.h"
#include "console/core/XmlNodeWrapper.h"

#include <pugixml.hpp>

#include <memory>
#include <string>
#include <string_view>

class CXmlDocumentWrapper {
public:
    CXmlDocumentWrapper();

    // Fetches address and parses it; false when either fails.
    bool Load(const std::string& address, const HttpLimits& limits);
    // Parses text; false when it is not a well-formed document.
    bool LoadText(std::string_view text);
    // The root element; empty when nothing is loaded.
    CXmlNodeWrapper AsNode() const;

private:
    std::unique_ptr<pugi::xml_document> document_;
    bool loaded_ = false;
};
