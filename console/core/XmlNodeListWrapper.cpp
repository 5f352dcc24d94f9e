#include "console/core/XmlNodeListWrapper.h"

CXmlNodeListWrapper::CXmlNodeListWrapper(pugi::xpath_node_set nodes) : nodes_(std::move(nodes)), found_(true)
{
    nodes_.sort();
}

CXmlNodeWrapper CXmlNodeListWrapper::GetNode(size_t index) const
{
    if (index >= nodes_.size())
        return {};
    return CXmlNodeWrapper(nodes_[index].node());
}
