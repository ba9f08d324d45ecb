// The test programs run on a single-threaded COM apartment, as the bench does.
#include <gtest/gtest.h>

#include <objbase.h>

namespace {

class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(::CoInitialize(NULL), S_OK); }
    void TearDown() override { ::CoUninitialize(); }
};

::testing::Environment* const g_pComEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

}  // namespace
