#include "AppInfo.h"

#include <gtest/gtest.h>

using namespace vardel;

TEST(AppInfo, VersionComesFromTheBuild) { EXPECT_NE(AppInfo::version(), "0"); }
