// SPDX-License-Identifier: MIT
#include "core/archive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

Bytes operator+(Bytes a, std::string_view text) {
  a.insert(a.end(), text.begin(), text.end());
  return a;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A record shaped like the client's own: a number and a name.
struct Record : ArchiveObject {
  static constexpr ArchiveClass kArchiveClass{"CVantreldFile", 1};
  int32_t id = -1;
  std::string name;

  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter& out) const override {
    out.writeI32(id);
    out.writeString(name);
  }
  void load(ArchiveReader& in) override {
    id = in.readI32();
    name = in.readString();
  }
};

struct Other : ArchiveObject {
  static constexpr ArchiveClass kArchiveClass{"COther", 0};
  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter&) const override {}
  void load(ArchiveReader&) override {}
};

// An object that holds another: lets a hostile archive nest without end.
struct Nest : ArchiveObject {
  static constexpr ArchiveClass kArchiveClass{"CNest", 0};
  std::unique_ptr<ArchiveObject> child;
  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter& out) const override {
    if (child) out.writeObject(*child); else out.writeNullObject();
  }
  void load(ArchiveReader& in) override { child = in.readObject(); }
};

ClassRegistry registry() {
  ClassRegistry classes;
  classes.add<Record>();
  classes.add<Other>();
  classes.add<Nest>();
  return classes;
}

TEST(Archive, CountsAndStringsUseTheirEscapes) {
  struct Case {
    const char* name;
    std::size_t value;
    bool isString;
    Bytes prefix;
  };
  const Case cases[] = {
      {"count 0", 0, false, bytesOf({0x00, 0x00})},
      {"count 0xFFFE", 0xFFFE, false, bytesOf({0xFE, 0xFF})},
      {"count 0xFFFF escapes", 0xFFFF, false, bytesOf({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00})},
      {"count 70000", 70000, false, bytesOf({0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
      {"string empty", 0, true, bytesOf({0x00})},
      {"string 254", 254, true, bytesOf({0xFE})},
      {"string 255", 255, true, bytesOf({0xFF, 0xFF, 0x00})},
      {"string 0xFFFD", 0xFFFD, true, bytesOf({0xFF, 0xFD, 0xFF})},
      {"string 0xFFFE", 0xFFFE, true, bytesOf({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
      {"string 70000", 70000, true, bytesOf({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveWriter out;
    const std::string text(c.value, 'q');
    if (c.isString) out.writeString(text); else out.writeCount(static_cast<uint32_t>(c.value));
    const Bytes& bytes = out.bytes();
    ASSERT_GE(bytes.size(), c.prefix.size());
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(c.prefix.size())), c.prefix);

    // Counts are checked against what follows; give the reader enough of it.
    Bytes data = bytes;
    if (!c.isString) data.resize(data.size() + c.value);
    ArchiveReader in(data);
    if (c.isString) {
      EXPECT_EQ(in.readString(), text);
      EXPECT_TRUE(in.atEnd());
    } else {
      EXPECT_EQ(in.readCount(), c.value);
    }
    EXPECT_TRUE(in.ok());
  }
}

TEST(Archive, IntegersAreLittleEndian) {
  ArchiveWriter out;
  out.writeU8(0x01);
  out.writeU16(0x0302);
  out.writeU32(0x07060504);
  out.writeI32(-2);
  EXPECT_EQ(out.bytes(), bytesOf({1, 2, 3, 4, 5, 6, 7, 0xFE, 0xFF, 0xFF, 0xFF}));
  ArchiveReader in(out.bytes());
  EXPECT_EQ(in.readU8(), 0x01);
  EXPECT_EQ(in.readU16(), 0x0302);
  EXPECT_EQ(in.readU32(), 0x07060504u);
  EXPECT_EQ(in.readI32(), -2);
  EXPECT_TRUE(in.ok() && in.atEnd());
}

TEST(Archive, ObjectsCarryTheirClassOnceThenAClassReference) {
  Record first, second;
  first.id = 7;
  first.name = "a";
  second.id = 8;
  ArchiveWriter out;
  const uint32_t firstIndex = out.writeObject(first);
  EXPECT_EQ(out.writeObject(second), 3u);
  out.writeObjectReference(firstIndex);
  out.writeNullObject();
  const Bytes want = bytesOf({0xFF, 0xFF, 0x01, 0x00, 0x0D, 0x00}) + "CVantreldFile" +
                     bytesOf({7, 0, 0, 0, 1, 'a',  //
                              0x01, 0x80, 8, 0, 0, 0, 0,  //
                              0x02, 0x00,  //
                              0x00, 0x00});
  EXPECT_EQ(out.bytes(), want);

  const ClassRegistry classes = registry();
  ArchiveReader in(want, &classes);
  auto a = in.readNew<Record>();
  auto b = in.readNew<Record>();
  ArchiveReader::ObjectTag again, none;
  EXPECT_EQ(in.readObject(&again), nullptr);
  EXPECT_EQ(in.readObject(&none), nullptr);
  ASSERT_TRUE(in.ok()) << archiveErrorText(in.error());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->id, 7);
  EXPECT_EQ(a->name, "a");
  EXPECT_EQ(b->id, 8);
  EXPECT_EQ(again.kind, ArchiveReader::ObjectTag::Kind::Reference);
  EXPECT_EQ(again.index, 2u);  // the class took 1
  EXPECT_EQ(none.kind, ArchiveReader::ObjectTag::Kind::Null);
  EXPECT_TRUE(in.atEnd());
}

TEST(Archive, IndexesPastTheShortTagUseTheEscape) {
  // 0x7FFF records push the second class past the 16-bit tag space.
  std::vector<Record> records(0x7FFF);
  Other extra1, extra2;
  ArchiveWriter out;
  for (const Record& r : records) out.writeObject(r);
  out.writeObject(extra1);          // records took 2..0x8000: new class 0x8001, object 0x8002
  out.writeObject(extra2);          // class reference: 0x7FFF, then 0x80000000 | 0x8001
  out.writeObjectReference(0x8000);  // the last record: 0x7FFF, then 0x8000
  const Bytes& bytes = out.bytes();
  const std::size_t tail = bytes.size();
  const Bytes classRef(bytes.end() - 12, bytes.end() - 6);
  EXPECT_EQ(classRef, bytesOf({0xFF, 0x7F, 0x01, 0x80, 0x00, 0x80}));
  const Bytes objectRef(bytes.begin() + static_cast<long>(tail - 6), bytes.end());
  EXPECT_EQ(objectRef, bytesOf({0xFF, 0x7F, 0x00, 0x80, 0x00, 0x00}));

  const ClassRegistry classes = registry();
  ArchiveReader in(bytes, &classes);
  for (std::size_t i = 0; i < records.size(); ++i) ASSERT_NE(in.readNew<Record>(), nullptr) << i;
  EXPECT_NE(in.readNew<Other>(), nullptr);
  EXPECT_NE(in.readNew<Other>(), nullptr);
  ArchiveReader::ObjectTag ref;
  in.readObject(&ref);
  ASSERT_TRUE(in.ok()) << archiveErrorText(in.error());
  EXPECT_EQ(ref.kind, ArchiveReader::ObjectTag::Kind::Reference);
  EXPECT_EQ(ref.index, 0x8000u);
  EXPECT_TRUE(in.atEnd());
}

TEST(Archive, MalformedInputIsReportedNotTrusted) {
  const Bytes header = bytesOf({0xFF, 0xFF, 0x01, 0x00, 0x0D, 0x00}) + "CVantreldFile";
  struct Case {
    const char* name;
    Bytes data;
    ArchiveError want;
  };
  const Case cases[] = {
      {"unknown class", bytesOf({0xFF, 0xFF, 0x01, 0x00, 0x03, 0x00}) + "CXy", ArchiveError::UnknownClass},
      {"wrong schema", bytesOf({0xFF, 0xFF, 0x02, 0x00, 0x0D, 0x00}) + "CVantreldFile", ArchiveError::BadSchema},
      {"class name longer than the data", bytesOf({0xFF, 0xFF, 0x01, 0x00, 0xFF, 0xFF}), ArchiveError::BadLength},
      {"class reference never announced", bytesOf({0x01, 0x80}), ArchiveError::BadIndex},
      {"class reference to index 0", bytesOf({0x00, 0x80}), ArchiveError::BadIndex},
      {"object reference never assigned", bytesOf({0x05, 0x00}), ArchiveError::BadIndex},
      {"escaped reference never assigned", bytesOf({0xFF, 0x7F, 0x00, 0x00, 0x00, 0x40}), ArchiveError::BadIndex},
      {"object reference naming a class", header + bytesOf({1, 0, 0, 0, 0, 0x01, 0x00}), ArchiveError::BadIndex},
      {"class reference naming an object", header + bytesOf({1, 0, 0, 0, 0, 0x02, 0x80}), ArchiveError::BadIndex},
      {"string longer than the data", header + bytesOf({1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}),
       ArchiveError::BadLength},
      {"wide-character string marker", header + bytesOf({1, 0, 0, 0, 0xFF, 0xFE, 0xFF, 0x01, 'a', 0}),
       ArchiveError::BadTag},
  };
  const ClassRegistry classes = registry();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveReader in(c.data, &classes);
    for (int i = 0; i < 3 && in.ok(); ++i) in.readObject();
    EXPECT_EQ(in.error(), c.want) << archiveErrorText(in.error());
    // Once failed, the reader hands out nothing more.
    EXPECT_EQ(in.readU32(), 0u);
    EXPECT_EQ(in.readString(), "");
  }
}

TEST(Archive, HugeCountIsRefusedBeforeAnythingIsAllocated) {
  const Bytes data = bytesOf({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
  ArchiveReader in(data);
  EXPECT_EQ(in.readCount(4), 0u);
  EXPECT_EQ(in.error(), ArchiveError::BadLength);

  const Bytes fits = bytesOf({2, 0, 1, 2, 3, 4, 5, 6, 7, 8});
  ArchiveReader ok(fits);
  EXPECT_EQ(ok.readCount(4), 2u);
  ArchiveReader tight(fits);
  EXPECT_EQ(tight.readCount(5), 0u);
  EXPECT_EQ(tight.error(), ArchiveError::BadLength);
}

TEST(Archive, EveryTruncationOfAValidArchiveFailsCleanly) {
  Record a, b;
  a.id = 1;
  a.name = std::string(300, 'n');
  b.id = 2;
  ArchiveWriter out;
  out.writeCount(2);
  out.writeU32(1);
  out.writeObject(a);
  out.writeU32(2);
  out.writeObject(b);
  const Bytes full = out.release();
  const ClassRegistry classes = registry();
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    SCOPED_TRACE(cut);
    ArchiveReader in(std::span<const uint8_t>(full).first(cut), &classes);
    const uint32_t n = in.readCount(6);
    for (uint32_t i = 0; i < n && in.ok(); ++i) {
      in.readU32();
      in.readNew<Record>();
    }
    EXPECT_FALSE(in.ok());
    EXPECT_TRUE(in.error() == ArchiveError::Truncated || in.error() == ArchiveError::BadLength)
        << archiveErrorText(in.error());
  }
}

TEST(Archive, ReadNewRefusesAnythingButANewObjectOfItsClass) {
  const ClassRegistry classes = registry();
  Other other;
  ArchiveWriter out;
  out.writeObject(other);
  ArchiveReader wrong(out.bytes(), &classes);
  EXPECT_EQ(wrong.readNew<Record>(), nullptr);
  EXPECT_EQ(wrong.error(), ArchiveError::WrongClass);

  const Bytes null = bytesOf({0, 0});
  ArchiveReader none(null, &classes);
  EXPECT_EQ(none.readNew<Record>(), nullptr);
  EXPECT_EQ(none.error(), ArchiveError::BadTag);

  ArchiveReader noRegistry(out.bytes());
  EXPECT_EQ(noRegistry.readObject(), nullptr);
  EXPECT_EQ(noRegistry.error(), ArchiveError::UnknownClass);
}

TEST(Archive, DeepNestingStopsInsteadOfOverflowingTheStack) {
  // A chain of 100,000 nested objects: first a new class, then class references.
  Bytes data = bytesOf({0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00}) + "CNest";
  for (int i = 0; i < 100000; ++i) data.insert(data.end(), {0x01, 0x80});
  const ClassRegistry classes = registry();
  ArchiveReader in(data, &classes);
  EXPECT_EQ(in.readObject(), nullptr);
  EXPECT_EQ(in.error(), ArchiveError::TooDeep);

  Nest outer;
  outer.child = std::make_unique<Nest>();
  ArchiveWriter out;
  out.writeObject(outer);
  ArchiveReader back(out.bytes(), &classes);
  auto read = back.readNew<Nest>();
  ASSERT_TRUE(back.ok());
  ASSERT_NE(read->child, nullptr);
  EXPECT_EQ(dynamic_cast<Nest&>(*read->child).child, nullptr);
}

}  // namespace
}  // namespace vantrel
