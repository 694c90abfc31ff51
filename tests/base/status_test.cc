#include "base/status.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "base/write_fully.h"

namespace portwick {
namespace {

TEST(StatusTest, CarriesStepErrorNumberAndReason) {
  EXPECT_TRUE(Status().ok());
  EXPECT_EQ(Status().Message(), "");

  const Status refused = Status::Error("connect", -ECONNREFUSED);
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.step(), "connect");
  EXPECT_EQ(refused.error_number(), ECONNREFUSED);  // negated errno is taken as well
  EXPECT_EQ(refused.reason(), "Connection refused");
  EXPECT_EQ(refused.Message(), "connect: Connection refused");

  const Status unresolved = Status::Error("resolve", 0, "Name or service not known");
  EXPECT_EQ(unresolved.error_number(), 0);
  EXPECT_EQ(unresolved.Message(), "resolve: Name or service not known");
  // Without a step a failure would read as success.
  EXPECT_FALSE(Status::Error("", EIO).ok());
}

TEST(StatusTest, KindIsAFieldOfItsOwn) {
  EXPECT_EQ(Status().kind(), Status::Kind::kOk);
  // The step's text says nothing about the kind.
  EXPECT_EQ(Status::Error("resolve", 0, "no address").kind(), Status::Kind::kOther);
  const Status pcap = Status::Error(Status::Kind::kPcap, "pcap", -EACCES);
  EXPECT_EQ(pcap.kind(), Status::Kind::kPcap);
  EXPECT_EQ(pcap.Message(), "pcap: Permission denied");
  EXPECT_NE(pcap, Status::Error("pcap", EACCES));
  EXPECT_EQ(Status::Error(Status::Kind::kOk, "open", ENOENT).kind(), Status::Kind::kOther);
}

TEST(WriteFullyTest, ReportsTheErrnoOfTheFailedWrite) {
  EXPECT_EQ(WriteFully(-1, "x", 1), -EBADF);
  EXPECT_EQ(WriteFully(-1, "", 0), 0);  // nothing to write, nothing fails
}

}  // namespace
}  // namespace portwick
