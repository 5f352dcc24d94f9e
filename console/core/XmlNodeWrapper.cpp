#include "console/core/XmlNodeWrapper.h"

#include "console/core/XmlNodeListWrapper.h"

#include <new>

CXmlNodeListWrapper CXmlNodeWrapper::FindNodes(const char* xpath) const
{
    if (!node_)
        return {};
    try {
        return CXmlNodeListWrapper(node_.select_nodes(xpath));
    } catch (const pugi::xpath_exception&) {
        return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::string CXmlNodeWrapper::GetValue(const char* name) const
{
    if (!node_)
        return {};
    return node_.attribute(name).value();
}
