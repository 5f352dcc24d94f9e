#include "AttributeTestSupport.h"

using namespace attrtest;

namespace {

TEST(ClassReferenceCountTest, CountsLiveObjectsAndReportsTheLeftovers)
{
    EXPECT_EQ(LiveAttributeObjectsReport(), "");
    auto* dir = new CAttributeDirectory;
    auto* query = new CAttributeQuery;
    CAttributeList* list = nullptr;
    CAttribute* first = nullptr;
    ASSERT_EQ(dir->CreateAttribute("A", 0, 0, nullptr, 0), S_OK);
    ASSERT_EQ(dir->FindAttributes([](CAttribute*, std::uintptr_t) -> BOOL { return 1; }, 0, &list, &first), S_OK);
    EXPECT_EQ(LiveAttributeObjects(AttributeClass::Directory), 1);
    EXPECT_EQ(LiveAttributeObjects(AttributeClass::Query), 1);
    EXPECT_EQ(LiveAttributeObjects(AttributeClass::List), 1);
    EXPECT_EQ(LiveAttributeObjects(AttributeClass::Attribute), 1); // the filter's handles are gone
    EXPECT_EQ(LiveAttributeObjectsReport(), "CAttributeDirectory: Reference Count = 1\n"
                                            "CAttributeQuery: Reference Count = 1\n"
                                            "CAttribute: Reference Count = 1\n"
                                            "CAttributeList: Reference Count = 1\n");
    first->AddRef();
    EXPECT_EQ(first->Release(), 1u);
    EXPECT_EQ(first->Release(), 0u);
    list->Release();
    query->Release();
    dir->Release();
    EXPECT_EQ(LiveAttributeObjectsReport(), "");
    EXPECT_STREQ(ClassReferenceCountOf(AttributeClass::List).name, "CAttributeList");
}

} // namespace
