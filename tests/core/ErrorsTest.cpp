#include <gtest/gtest.h>

#include "ZWConst.h"
#include "ZWExcept.h"
#include "ZWZlib.h"

namespace zw {
namespace {

TEST(EZWExceptionTest, ComposesNamePrefixTextAndZeroFilledCode) {
  TComponent owner;
  owner.SetName("ZipWriter1");
  EZWException e(13, &owner);
  EXPECT_EQ(e.Message(), "ZipWriter1: Archive is not open - Native error: 00013");
  EXPECT_EQ(e.ErrorCode(), 7);
  EXPECT_EQ(e.NativeError(), 13);
}

TEST(EZWExceptionTest, WithoutComponentOrNameThereIsNoPrefix) {
  EXPECT_EQ(EZWException(1).Message(), "Index out of bounds - Native error: 00001");
  TComponent unnamed;
  EZWException e(12, {"C:\\a.zip"}, &unnamed);
  EXPECT_EQ(e.Message(), "File \"C:\\a.zip\" not found - Native error: 00012");
}

TEST(EZWExceptionTest, FormatsIntegerArguments) {
  EZWException e(34, {100, 60});
  EXPECT_EQ(e.Message(),
            "Invalid compressed size, rfs.size = 100, count = 60 - Native error: 00034");
  EXPECT_EQ(e.ErrorCode(), 17);
}

TEST(EZWExceptionTest, UnknownCodesKeepTheirNumber) {
  EZWException e(99);
  EXPECT_EQ(e.ErrorCode(), 0);
  EXPECT_EQ(e.Message(), "Unknown error - Native error: 00099");
  EXPECT_EQ(EZWException(123456).Message(), "Unknown error - Native error: 123456");
}

TEST(EZWExceptionTest, CodesWithoutTextGiveOnlyTheNumberPart) {
  TComponent owner;
  owner.SetName("ZipWriter1");
  EZWException e(57, &owner);
  EXPECT_EQ(e.ErrorCode(), -1);
  EXPECT_EQ(e.Message(), "ZipWriter1:  - Native error: 00057");
}

TEST(EZWExceptionTest, SeveralCodesShareOneText) {
  for (int code : {1, 2, 3, 4, 7, 16, 21, 24}) EXPECT_EQ(EZWException(code).ErrorCode(), 1) << code;
  for (int code : {9, 10, 29}) EXPECT_EQ(EZWException(code).ErrorCode(), 5) << code;
  EXPECT_EQ(EZWException(41).ErrorCode(), 23);
  EXPECT_EQ(EZWException(43).ErrorCode(), 23);
  EXPECT_EQ(EZWException(45).ErrorCode(), 24);
  EXPECT_EQ(EZWException(52).ErrorCode(), 31);
  EXPECT_EQ(EZWException(56).ErrorCode(), 33);
}

// Opening failures that mean "not a readable archive" (bkup's corrupt-archive notice)
// apart from those that mean the archive could not be reached or used.
TEST(EZWExceptionTest, DamagedArchiveFailuresAreRecognised) {
  for (int code :
       {ecInvalidArchive, ecZip64EndRecordMissing, ecNoEndRecordOnVolumes, ecArchiveDamaged})
    EXPECT_TRUE(IsArchiveDamaged(EZWException(code))) << code;
  EXPECT_TRUE(IsArchiveDamaged(EReadError()));
  for (int code : {ecArchiveNotFound, ecVolumeRequestCancelled, ecRestorePending})
    EXPECT_FALSE(IsArchiveDamaged(EZWException(code))) << code;
  EXPECT_FALSE(IsArchiveDamaged(EFOpenError("held")));
}

TEST(EZWExceptionTest, EveryTextIsReachable) {
  EXPECT_STREQ(ErrorMessageText(20),
               "Archive is open. You should close it beore performing this operation.");
  EXPECT_STREQ(ErrorMessageText(35), "");
  EXPECT_STREQ(ErrorMessageText(-1), "");
}

TEST(CheckZlibResultTest, PassesNonNegativeAndRaisesOnNegative) {
  for (int ok : {0, 1, 2}) EXPECT_EQ(CheckZlibResult(ok), ok);
  for (int bad : {-1, -2, -3, -5, -6}) {
    try {
      CheckZlibResult(bad);
      FAIL() << bad;
    } catch (const ECompressionError& e) {
      EXPECT_EQ(e.Message(), "error");
    }
  }
}

}  // namespace
}  // namespace zw
