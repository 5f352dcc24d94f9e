#include "console/core/XmlDocumentWrapper.h"

CXmlDocumentWrapper::CXmlDocumentWrapper() : document_(std::make_unique<pugi::xml_document>()) {}

bool CXmlDocumentWrapper::Load(const std::string& address, const HttpLimits& limits)
{
    loaded_ = false;
    auto body = FetchHttp(address, limits);
    return body && LoadText(*body);
}

bool CXmlDocumentWrapper::LoadText(std::string_view text)
{
    // A document without an element does not parse either.
    loaded_ = static_cast<bool>(document_->load_buffer(text.data(), text.size()));
    return loaded_;
}

CXmlNodeWrapper CXmlDocumentWrapper::AsNode() const
{
    if (!loaded_)
        return {};
    return CXmlNodeWrapper(document_->document_element());
}
