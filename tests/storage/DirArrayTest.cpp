// The directory array: growth rule, index errors, name look-up, deep copies.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "DirItem.h"
#include "ZWExcept.h"

namespace zw::test {
namespace {

TDirItem Named(const std::string& name) {
  TDirItem item;
  item.FileName = name;
  return item;
}

TEST(DirArray, StartsEmpty) {
  TZWDirArray a;
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(a.Capacity(), 0);
  EXPECT_EQ(a.GrowStep(), 500);
}

TEST(DirArray, SingleAppendsGrowByDoublingStepCappedAt10000) {
  TZWDirArray a;
  // (count reached, capacity after it)
  const std::pair<int32_t, int32_t> steps[] = {{1, 1000},      {1000, 1000},  {1001, 3000},
                                               {3001, 7000},   {7001, 15000}, {15001, 25000},
                                               {25001, 35000}, {35001, 45000}};
  int32_t count = 0;
  for (auto [reach, capacity] : steps) {
    while (count < reach) count = a.Add() + 1;
    EXPECT_EQ(a.Capacity(), capacity) << "at " << reach;
  }
  EXPECT_EQ(a.GrowStep(), 10000);
  a.SetCount(0);
  EXPECT_EQ(a.Capacity(), 0);
  EXPECT_EQ(a.GrowStep(), 10000);  // the step keeps its value
}

TEST(DirArray, OneLargeSetCountTakesTheCountWhenTheStepIsTooSmall) {
  TZWDirArray a;
  a.SetCount(5000);
  EXPECT_EQ(a.Capacity(), 5000);
  EXPECT_EQ(a.GrowStep(), 1000);
}

TEST(DirArray, NewSlotsStartEmptyAndClearKeepsStorage) {
  TZWDirArray a;
  a.SetCount(3);
  a.ItemPtr(2) = Named("x");
  a.ItemPtr(2).ExtraFields.push_back({1, 2, {3, 4}});
  a.SetCount(1);
  a.SetCount(3);
  EXPECT_EQ(a.ItemPtr(2).FileName, "");
  EXPECT_TRUE(a.ItemPtr(2).ExtraFields.empty());
  a.Clear();
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(a.Capacity(), 1000);
}

TEST(DirArray, IndexOutsideCountRaisesItsCodeAndChangesNothing) {
  TZWDirArray a;
  a.SetCount(2);
  a.ItemPtr(0) = Named("a");
  TDirItem out;
  struct Case {
    const char* what;
    std::function<void()> call;
    int code;
  } cases[] = {
      {"SetItem count", [&] { a.SetItem(2, Named("z")); }, 1},
      {"SetItem -1", [&] { a.SetItem(-1, Named("z")); }, 1},
      {"GetItem count", [&] { a.GetItem(2, out); }, 2},
      {"ItemPtr count", [&] { a.ItemPtr(2); }, 3},
      {"ItemPtr -1", [&] { a.ItemPtr(-1); }, 3},
      {"Delete -1", [&] { a.Delete(-1); }, 4},
      {"Delete count", [&] { a.Delete(2); }, 4},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << " did not raise";
    } catch (const EZWException& e) {
      EXPECT_EQ(e.NativeError(), c.code) << c.what;
      EXPECT_NE(std::string(e.what()).find("Index out of bounds"), std::string::npos) << c.what;
    }
  }
  EXPECT_EQ(a.Count(), 2);
  EXPECT_EQ(a.ItemPtr(0).FileName, "a");
}

TEST(DirArray, FindByNameIgnoresCaseAndReturnsTheFirst) {
  TZWDirArray a;
  int32_t index = -1;
  EXPECT_FALSE(a.FindByName("x", index));
  a.ItemPtr(a.Add()) = Named("a/B.txt");
  a.ItemPtr(a.Add()) = Named("A/b.TXT");
  ASSERT_TRUE(a.FindByName("A/B.TXT", index));
  EXPECT_EQ(index, 0);
  a.Delete(0);
  ASSERT_TRUE(a.FindByName("a/b.txt", index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(a.FindByName("a/b.tx", index));
  // Non-ASCII letters compare without case too.
  a.ItemPtr(a.Add()) = Named("\xc3\xa4pfel.txt");  // äpfel
  ASSERT_TRUE(a.FindByName("\xc3\x84PFEL.TXT", index));
  EXPECT_EQ(index, 1);
}

TEST(DirArray, FindByNameSeesRenamesAndSetItem) {
  TZWDirArray a;
  a.ItemPtr(a.Add()) = Named("old");
  a.ItemPtr(a.Add()) = Named("other");
  int32_t index = -1;
  ASSERT_TRUE(a.FindByName("old", index));
  a.ItemPtr(0).FileName = "new";
  a.NameChanged(0);
  EXPECT_FALSE(a.FindByName("old", index));
  ASSERT_TRUE(a.FindByName("NEW", index));
  EXPECT_EQ(index, 0);
  a.SetItem(1, Named("new"));
  ASSERT_TRUE(a.FindByName("new", index));
  EXPECT_EQ(index, 0);  // still the first of two equal names
}

TEST(DirArray, DeleteMiddleKeepsOrder) {
  TZWDirArray a;
  for (const char* n : {"one", "two", "three"}) a.ItemPtr(a.Add()) = Named(n);
  a.Delete(1);
  ASSERT_EQ(a.Count(), 2);
  EXPECT_EQ(a.ItemPtr(0).FileName, "one");
  EXPECT_EQ(a.ItemPtr(1).FileName, "three");
  EXPECT_EQ(a.Capacity(), 1000);
}

TEST(DirArray, AssignAndGetItemMakeIndependentCopies) {
  TZWDirArray source;
  TDirItem item = Named("x");
  item.ExtraFields.push_back({0x1234, 3, {1, 2, 3}});
  source.SetItem(source.Add(), item);
  TZWDirArray copy;
  copy.Assign(source);
  // Shared until changed through either array: a saved directory costs no second item.
  EXPECT_EQ(&std::as_const(copy).ItemPtr(0), &std::as_const(source).ItemPtr(0));
  TZWDirArray other;
  other.Assign(source);
  other.ItemPtr(0).FileName = "y";
  EXPECT_EQ(std::as_const(source).ItemPtr(0).FileName, "x");
  source.ItemPtr(0).ExtraFields[0].Data[0] = 9;
  source.Delete(0);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.ItemPtr(0).ExtraFields[0].Data, (std::vector<uint8_t>{1, 2, 3}));
  TDirItem out;
  copy.GetItem(0, out);
  out.ExtraFields[0].Data[1] = 7;
  EXPECT_EQ(copy.ItemPtr(0).ExtraFields[0].Data[1], 2);
}

}  // namespace
}  // namespace zw::test
