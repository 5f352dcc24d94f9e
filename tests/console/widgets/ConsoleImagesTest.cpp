#include "console/widgets/ConsoleImages.h"

#include <gtest/gtest.h>

// Every picture is compiled in, at the size its users lay out for.
TEST(ConsoleImages, PicturesAreThereAtTheirSizes)
{
    for (int index : {images::kServerImage, images::kReadOnlyServerImage}) {
        EXPECT_EQ(images::LargeServerImage(index).size(), QSize(48, 48)) << index;
        EXPECT_EQ(images::SmallServerImage(index).size(), QSize(16, 16)) << index;
    }
    // The two list images differ: the Default server is marked as read-only.
    EXPECT_NE(images::LargeServerImage(0).toImage(), images::LargeServerImage(1).toImage());
    EXPECT_NE(images::SmallServerImage(0).toImage(), images::SmallServerImage(1).toImage());

    const QList<QSize> programSizes = images::ProgramIcon().availableSizes();
    EXPECT_TRUE(programSizes.contains(QSize(32, 32)));
    EXPECT_TRUE(programSizes.contains(QSize(16, 16)));
    for (const QIcon& icon : {images::CloseIcon(), images::NewServerIcon(), images::ActivityIcon(),
                              images::DeleteIcon(), images::SaveIcon()})
        EXPECT_EQ(icon.availableSizes(), QList<QSize>{QSize(16, 16)});
    EXPECT_FALSE(images::AboutBitmap().isNull());
}
