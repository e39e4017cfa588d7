#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "model/seqfile.h"
#include "support/testing.h"

using namespace vantrel;
using vantrel_testing::fatal_text;
using vantrel_testing::fixture_path;

namespace {

// A file holding the given bytes, removed when the object goes.
class Temp_file {
 public:
  explicit Temp_file(const std::string& bytes)
      : path_(std::filesystem::temp_directory_path() /
              ("vantrel_seq_" + std::to_string(getpid()) + "_" + std::to_string(++count_))) {
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  ~Temp_file() { std::filesystem::remove(path_); }
  String path() const { return path_.string(); }

 private:
  static inline int count_ = 0;
  std::filesystem::path path_;
};

using Records = std::vector<std::pair<String, String>>;

Records records_of(const MMoleculeSequence& seqs) {
  Records r;
  for (int i = 0; i < seqs.size(); ++i) r.emplace_back(seqs[i].id(), seqs[i].sequence());
  return r;
}

Records import(const std::string& text) {
  const Temp_file file(text);
  SEQfile seq;
  seq.read_file(file.path());
  MMoleculeSequence seqs;
  seq.import_molecule_sequence(seqs);
  return records_of(seqs);
}

}  // namespace

TEST(SequenceFiles, RecordsOfTexts) {
  const std::vector<std::pair<std::string, Records>> cases = {
      {">A\nacdef\nGH IK 10\n>B\n\n  mnpq\n", {{"A", "ACDEFGHIK"}, {"B", "MNPQ"}}},
      {">A\r\nacdef\r\nGH IK 10\r\n>B\r\n\r\n  mnpq\r\n", {{"A", "ACDEFGHIK"}, {"B", "MNPQ"}}},
      {">empty\n>X\nAAA", {{"X", "AAA"}}},
      {"MKV\n>B\nLL\n", {{"", "MKV"}, {"B", "LL"}}},
      {">c\n1 MKVL\nMKV 1 LL\n", {{"c", "MKVLL"}}},
      // Comments, gaps, stop marks, tabs, and bytes that are not ASCII letters.
      {";comment\n>  chain A  \n\tSEQ-WE*\n-NCE\nK\xc3\xa9L\n>A\nW", {{"chain A", "SEQWEKL"},
                                                                    {"A", "W"}}},
      {"", {}},
      {"12345\n \n>only\n", {}}};
  for (const auto& c : cases) EXPECT_EQ(import(c.first), c.second) << c.first;
}

// The entries' own files, read one after another as one text; each header
// states the length of its sequence.
TEST(SequenceFiles, RealFiles) {
  std::string all;
  for (const char* name : {"ref_1rx2.fasta", "sm_1dur.fasta", "wrk_7mm1.fasta"})
    all += std::string(std::istreambuf_iterator<char>(vantrel_testing::open_fixture(name).rdbuf()),
                       {});
  const Records records = import(all);
  ASSERT_EQ(records.size(), 3u);
  const char* codes[] = {"1RX2_A mol:protein length:", "1DUR_A", "7MM1_A"};
  for (int i = 0; i < 3; ++i) {
    const String& id = records[i].first;
    EXPECT_EQ(id.rfind(codes[i], 0), 0u) << id;
    EXPECT_EQ(records[i].second.size(), std::size_t(String(id.substr(id.find("length:") + 7)).i()));
    EXPECT_EQ(records[i].second.find_first_not_of("ACDEFGHIKLMNPQRSTVWY"), String::npos);
  }
  EXPECT_EQ(records[1].second, "AYVINDSCIACGACKPECPVNCIQEGSIYAIDADSCIDCGSCASVCPVGAPNPED");
}

TEST(SequenceFiles, PolymerFormAndUnreadableFiles) {
  const Temp_file two(">first\nMKV\n>second\nLL\n");
  SEQfile file;
  file.read_file(two.path());
  MPolymerSequence seq;
  file.import_polymer_sequence(seq);
  EXPECT_EQ(seq.id(), "first");
  EXPECT_EQ(seq.sequence(), "MKV");
  // Imports never change the text, and append to what is there.
  MMoleculeSequence twice;
  file.import_molecule_sequence(twice);
  file.import_molecule_sequence(twice);
  EXPECT_EQ(records_of(twice), Records({{"first", "MKV"}, {"second", "LL"}, {"first", "MKV"},
                                        {"second", "LL"}}));

  // A text without records leaves the sequence as it was.
  const Temp_file none(">header only\n42\n");
  file.read_file(none.path());
  file.import_polymer_sequence(seq);
  EXPECT_EQ(seq.id(), "first");
  EXPECT_EQ(seq.sequence(), "MKV");

  // A file that cannot be opened or read is reported, and the text of an
  // earlier file is not kept.
  for (const String& bad : {String(fixture_path("no_such_file.fasta")), String(VANTREL_TEST_DATA)}) {
    file.read_file(two.path());
    EXPECT_EQ(fatal_text([&] { file.read_file(bad); }), "SEQfile: read_file error: " + bad);
    MMoleculeSequence seqs;
    file.import_molecule_sequence(seqs);
    EXPECT_EQ(seqs.size(), 0);
  }
}
