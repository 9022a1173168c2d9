#include "import/source_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "import/import_errors.h"
#include "support/raised_error.h"

namespace tabsync::import {
namespace {

// Writes with a StreamWriter into a pipe and splits what arrives.
std::vector<Frame> RoundTrip(const std::function<void(StreamWriter&)>& write) {
  int fds[2];
  EXPECT_EQ(0, pipe(fds));
  {
    StreamWriter writer(fds[1]);
    write(writer);
    writer.Flush();
  }
  close(fds[1]);
  FrameSplitter splitter;
  char buffer[7];  // small reads: frames arrive in pieces
  ssize_t got;
  std::vector<Frame> frames;
  Frame frame;
  while ((got = read(fds[0], buffer, sizeof buffer)) > 0) {
    splitter.Feed(std::string_view(buffer, got));
    while (splitter.Next(&frame)) frames.push_back(frame);
  }
  close(fds[0]);
  EXPECT_FALSE(splitter.Pending());
  return frames;
}

TEST(SourceStreamTest, TablesLinksAndRowsComeBackAsWritten) {
  SourceTable table{"Kunden", 8, {{"ID", jet::kLong, 4, 0, 0, true, true, false, "", ComplexKind::kNone, ""},
                                  {"Files", jet::kComplex, 4, 0, 0, false, false, false, "",
                                   ComplexKind::kAttachments, "Kunden_Files"},
                                  {"Sum", jet::kDecimal, 17, 12, 2, false, false, true, "[A]+[B]",
                                   ComplexKind::kNone, ""}},
                    {{"PrimaryKey", true, false, true, {0}}, {"ByName", false, true, false, {1, 0}}}};
  SourceLink link{"Orders", 4, 0x20100000u, "", "DSN=x;PWD=y", "dbo.Orders"};
  std::vector<SourceValue> row(4);
  row[0] = {ValueKind::kInteger, -7, 0, ""};
  row[1] = {ValueKind::kText, 0, 0, std::string("a\0b", 3)};
  row[2] = {ValueKind::kDate, 0, -1.25, ""};
  row[3] = {ValueKind::kUndecodable, 0, 0, ""};
  std::vector<Frame> frames = RoundTrip([&](StreamWriter& out) {
    out.Table(table);
    out.Link(link);
    out.BeginRows(3);
    out.Row(row);
    out.Warning("3 values left out");
    out.Done();
  });
  ASSERT_EQ(6u, frames.size());
  SourceTable back = DecodeTable(frames[0].payload);
  EXPECT_EQ("Kunden", back.name);
  EXPECT_EQ(8u, back.flags);
  ASSERT_EQ(3u, back.columns.size());
  EXPECT_TRUE(back.columns[0].auto_number && back.columns[0].required && !back.columns[0].calculated);
  EXPECT_TRUE(back.columns[2].calculated);
  EXPECT_EQ("[A]+[B]", back.columns[2].expression);
  EXPECT_EQ(12, back.columns[2].precision);
  EXPECT_EQ(ComplexKind::kAttachments, back.columns[1].complex);
  EXPECT_EQ("Kunden_Files", back.columns[1].detail);
  ASSERT_EQ(2u, back.indexes.size());
  EXPECT_TRUE(back.indexes[1].foreign_key);
  EXPECT_EQ((std::vector<int>{1, 0}), back.indexes[1].columns);
  SourceLink link_back = DecodeLink(frames[1].payload);
  EXPECT_EQ(0x20100000u, link_back.flags);
  EXPECT_EQ("DSN=x;PWD=y", link_back.connect);
  EXPECT_EQ(3, DecodeRowsStart(frames[2].payload));
  std::vector<SourceValue> values;
  DecodeRow(frames[3].payload, &values);
  ASSERT_EQ(4u, values.size());
  EXPECT_EQ(-7, values[0].integer);
  EXPECT_EQ(std::string("a\0b", 3), values[1].bytes);
  EXPECT_EQ(-1.25, values[2].number);
  EXPECT_EQ(ValueKind::kUndecodable, values[3].kind);
  EXPECT_EQ(FrameTag::kWarning, frames[4].tag);
  EXPECT_EQ("3 values left out", DecodeFailure(frames[4].payload));
  EXPECT_EQ(FrameTag::kDone, frames[5].tag);
}

TEST(SourceStreamTest, DamagedFramesAreRefused) {
  FrameSplitter splitter;
  splitter.Feed(std::string("Q\0\0\0\0", 5));
  Frame frame;
  test::ExpectError(errors::kDamagedStream, [&] { splitter.Next(&frame); });

  SourceTable table{"T", 0, {{"A", jet::kText, 5, 0, 0, false, false, false, "", ComplexKind::kNone, ""}},
                    {{"I", false, false, false, {0}}}};
  std::vector<Frame> frames = RoundTrip([&](StreamWriter& out) { out.Table(table); });
  std::string payload = frames.at(0).payload;
  for (size_t cut : {size_t{0}, payload.size() / 2, payload.size() - 1})
    test::ExpectError(errors::kDamagedStream, [&] { DecodeTable(payload.substr(0, cut)); });
  // An index naming a column the table does not have.
  payload[payload.size() - 8] = 5;
  test::ExpectError(errors::kDamagedStream, [&] { DecodeTable(payload); });
  test::ExpectError(errors::kDamagedStream, [&] { DecodeRowsStart(payload); });
}

}  // namespace
}  // namespace tabsync::import
