// The counting rules of ReferenceCounter, seen through retain and release functions of
// our own that record every call: which calls are made, on which handle, in which order.
// (The same rules against OpenCL's real counts are in ReferenceCountTest.cpp.)
#include "clw/CLW.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace
{

struct FakeObject
{
    int id;
};
using FakeHandle = FakeObject*;

std::vector<std::string> g_calls;

std::string Describe(const char* what, FakeHandle handle)
{
    return std::string(what) + " " + std::to_string(handle->id);
}

cl_int RecordRetain(FakeHandle handle)
{
    g_calls.push_back(Describe("retain", handle));
    return CL_SUCCESS;
}

cl_int RecordRelease(FakeHandle handle)
{
    g_calls.push_back(Describe("release", handle));
    return CL_SUCCESS;
}

using Counted = ReferenceCounter<FakeHandle, RecordRetain, RecordRelease>;
using Uncounted = ReferenceCounter<FakeHandle, nullptr, nullptr>;

class ClwReferenceCounter : public ::testing::Test
{
protected:
    void SetUp() override { g_calls.clear(); }

    FakeObject h1{1};
    FakeObject h2{2};
};

TEST_F(ClwReferenceCounter, DefaultConstructedWrappersMakeNoCall)
{
    {
        Counted empty;
        Counted copy(empty);
        Counted assigned;
        assigned = empty;
        EXPECT_EQ(static_cast<FakeHandle>(copy), nullptr);
    }
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(ClwReferenceCounter, NullHandleWrappersMakeNoCall)
{
    {
        Counted null(nullptr);
        Counted copy(null);
        copy = null;
    }
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(ClwReferenceCounter, ConstructionFromAHandleRetainsOnceAndDestructionReleasesOnce)
{
    {
        Counted wrapper(&h1);
        EXPECT_EQ(g_calls, (std::vector<std::string>{"retain 1"}));
        EXPECT_EQ(static_cast<FakeHandle>(wrapper), &h1);
    }
    EXPECT_EQ(g_calls, (std::vector<std::string>{"retain 1", "release 1"}));
}

TEST_F(ClwReferenceCounter, EveryCopyTakesAndGivesBackOneReference)
{
    {
        Counted first(&h1);
        Counted second(first);
        Counted third = second;
    }
    EXPECT_EQ(g_calls, (std::vector<std::string>{"retain 1", "retain 1", "retain 1", "release 1",
                                                 "release 1", "release 1"}));
}

TEST_F(ClwReferenceCounter, AssigningBToAReleasesAsHandleBeforeRetainingBs)
{
    Counted a(&h1);
    Counted b(&h2);
    g_calls.clear();
    a = b;
    EXPECT_EQ(g_calls, (std::vector<std::string>{"release 1", "retain 2"}));
    EXPECT_EQ(static_cast<FakeHandle>(a), &h2);
}

TEST_F(ClwReferenceCounter, AssigningAHandleToAnEmptyWrapperOnlyRetains)
{
    Counted empty;
    Counted holder(&h1);
    g_calls.clear();
    empty = holder;
    EXPECT_EQ(g_calls, (std::vector<std::string>{"retain 1"}));
}

TEST_F(ClwReferenceCounter, AssigningAnEmptyWrapperOnlyReleases)
{
    Counted holder(&h1);
    g_calls.clear();
    holder = Counted();
    EXPECT_EQ(g_calls, (std::vector<std::string>{"release 1"}));
    EXPECT_EQ(static_cast<FakeHandle>(holder), nullptr);
}

TEST_F(ClwReferenceCounter, SelfAssignmentMakesNoCallAndKeepsTheHandle)
{
    Counted wrapper(&h1);
    g_calls.clear();
    Counted& alias = wrapper;
    wrapper = alias;
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(static_cast<FakeHandle>(wrapper), &h1);
}

TEST_F(ClwReferenceCounter, ReturningByValueAndAssigningCostsOneRetainAndOneRelease)
{
    Counted member;
    auto make = [&] { return Counted(&h1); };
    member = make();
    // The temporary's own retain and release, then the member's retain.
    EXPECT_EQ(g_calls, (std::vector<std::string>{"retain 1", "retain 1", "release 1"}));
}

TEST_F(ClwReferenceCounter, WithoutRetainAndReleaseCopiesArePlainPointerCopies)
{
    {
        Uncounted first(&h1);
        Uncounted second(first);
        Uncounted third;
        third = second;
        EXPECT_EQ(static_cast<FakeHandle>(third), &h1);
    }
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(ClwReferenceCounter, MovingCopiesBecauseThereAreNoMoveOperations)
{
    Counted source(&h1);
    g_calls.clear();
    Counted target(std::move(source));
    Counted assigned;
    assigned = std::move(target);
    // Both "moves" took a reference of their own, and the sources still hold theirs.
    EXPECT_EQ(g_calls, (std::vector<std::string>{"retain 1", "retain 1"}));
    EXPECT_EQ(static_cast<FakeHandle>(source), &h1);
    EXPECT_EQ(static_cast<FakeHandle>(target), &h1);
}

TEST(ClwException, CarriesTheMessageAndTheStatus)
{
    CLWException exception(CL_INVALID_VALUE, "clFinish failed");
    EXPECT_STREQ(exception.what(), "clFinish failed");
    EXPECT_EQ(exception.GetStatus(), CL_INVALID_VALUE);

    CLWException copy(exception);
    EXPECT_STREQ(copy.what(), "clFinish failed");
    EXPECT_EQ(copy.GetStatus(), CL_INVALID_VALUE);
}

TEST(ClwException, IsCaughtAsAStandardRuntimeError)
{
    try
    {
        ThrowIfFailed(CL_OUT_OF_RESOURCES, "clCreateBuffer failed");
        FAIL() << "no exception";
    }
    catch (const std::runtime_error& error)
    {
        EXPECT_STREQ(error.what(), "clCreateBuffer failed");
        const auto* clw = dynamic_cast<const CLWException*>(&error);
        ASSERT_NE(clw, nullptr);
        EXPECT_EQ(clw->GetStatus(), CL_OUT_OF_RESOURCES);
    }
}

TEST(ClwException, SuccessThrowsNothing)
{
    EXPECT_NO_THROW(ThrowIfFailed(CL_SUCCESS, "unused"));
}

} // namespace
