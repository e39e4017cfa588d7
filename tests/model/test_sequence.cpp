#include "model/seqfile.h"
#include "model/sequence.h"
#include "model_testing.h"

#include <sys/stat.h>

using namespace vantrel;
using vantrel_testing::fatal_text;

namespace {

using Records = std::vector<std::pair<String, String>>;

Records records_of(const MMoleculeSequence& seqs) {
  Records r;
  for (int i = 0; i < seqs.size(); ++i) r.emplace_back(seqs[i].id(), seqs[i].sequence());
  return r;
}

Records import(const std::string& text) {
  const model_testing::Scratch scratch;
  SEQfile seq;
  seq.read_file(scratch.write("text.seq", text));
  MMoleculeSequence seqs;
  seq.import_molecule_sequence(seqs);
  return records_of(seqs);
}

}  // namespace

TEST(MoleculeSequence, InsertLookupFind) {
  MMoleculeSequence mol;
  for (const auto& [id, pos] :
       std::vector<std::pair<String, int>>{{"A", -1}, {"B", -1}, {"A ", 0}, {"a", -1}, {"A", 2}}) {
    MPolymerSequence s;
    s.set_id(id);
    s.set_sequence(id + std::to_string(pos));
    mol.insert(s, pos);
  }
  EXPECT_EQ(records_of(mol),
            Records({{"A ", "A 0"}, {"A", "A-1"}, {"A", "A2"}, {"B", "B-1"}, {"a", "a-1"}}));
  // Whole-string ids in either mode; the first of two equal ids wins.
  EXPECT_TRUE(mol.lookup("A", MM::BASE_ID) == 1 && mol.lookup("a", MM::WHOLE_ID) == 4);
  EXPECT_EQ(mol.lookup(" A", MM::BASE_ID), -1);
  EXPECT_EQ(fatal_text([&] { mol.find("C", MM::WHOLE_ID); }), "MMolecule: no such monomer");
}

TEST(SequenceFiles, RecordsOfTexts) {
  const std::vector<std::pair<std::string, Records>> cases = {
      {">A\nacdef\nGH IK 10\n>B\n\n  mnpq\n", {{"A", "ACDEFGHIK"}, {"B", "MNPQ"}}},
      {">A\r\nacdef\r\nGH IK 10\r\n>B\r\n\r\n  mnpq\r\n", {{"A", "ACDEFGHIK"}, {"B", "MNPQ"}}},
      // Carriage returns alone end lines too, and mixed line ends mix freely.
      {">A\racdef\rGH IK 10\r>B\r\r  mnpq\r", {{"A", "ACDEFGHIK"}, {"B", "MNPQ"}}},
      {">A\racdef\nGH IK 10\r\n>B\n\r  mnpq", {{"A", "ACDEFGHIK"}, {"B", "MNPQ"}}},
      {">c\r1 MKVL\rMKV 1 LL", {{"c", "MKVLL"}}},
      {">empty\n>X\nAAA", {{"X", "AAA"}}},
      {"MKV\n>B\nLL\n", {{"", "MKV"}, {"B", "LL"}}},
      {">c\n1 MKVL\nMKV 1 LL\n", {{"c", "MKVLL"}}},
      // Comments, gaps, stop marks, tabs, and bytes that are not ASCII letters.
      {";comment\n>  chain A  \n\tSEQ-WE*\n-NCE\nK\xc3\xa9L\n>A\nW",
       {{"chain A", "SEQWEKL"}, {"A", "W"}}},
      {"", {}},
      {"12345\n \n>only\n", {}}};
  for (const auto& c : cases) EXPECT_EQ(import(c.first), c.second) << c.first;

  // The entries' own files as one text; each header states its sequence's length.
  std::string all;
  for (const char* name : {"ref_1rx2.fasta", "sm_1dur.fasta", "wrk_7mm1.fasta"})
    all += model_testing::slurp(vantrel_testing::fixture_path(name));
  const Records records = import(all);
  ASSERT_EQ(records.size(), 3u);
  for (const auto& [id, seq] : records) {
    EXPECT_EQ(seq.size(), std::size_t(String(id.substr(id.find("length:") + 7)).i())) << id;
    EXPECT_EQ(seq.find_first_not_of("ACDEFGHIKLMNPQRSTVWY"), String::npos);
  }
  EXPECT_EQ(records[0].first.rfind("1RX2_A mol:protein length:", 0), 0u);
  EXPECT_EQ(records[1].second, "AYVINDSCIACGACKPECPVNCIQEGSIYAIDADSCIDCGSCASVCPVGAPNPED");
}

TEST(SequenceFiles, PolymerFormAndUnreadableFiles) {
  const model_testing::Scratch scratch;
  const String two = scratch.write("two", ">first\nMKV\n>second\nLL\n");
  SEQfile file;
  file.read_file(two);
  MPolymerSequence seq;
  file.import_polymer_sequence(seq);
  EXPECT_EQ(seq.id() + "|" + seq.sequence(), "first|MKV");
  // Imports never change the text, and append to what is there.
  MMoleculeSequence twice;
  file.import_molecule_sequence(twice);
  file.import_molecule_sequence(twice);
  EXPECT_EQ(records_of(twice),
            Records({{"first", "MKV"}, {"second", "LL"}, {"first", "MKV"}, {"second", "LL"}}));

  // A text without records leaves the sequence as it was.
  file.read_file(scratch.write("none", ">header only\n42\n"));
  file.import_polymer_sequence(seq);
  EXPECT_EQ(seq.id() + "|" + seq.sequence(), "first|MKV");

  // A path that is no readable regular file is refused before it is opened
  // (a FIFO would block the read), and the text of an earlier file is not kept.
  const String fifo = scratch.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::pair<String, String>> bad_paths = {
      {scratch.path("no_such_file"), "no such file or directory"},
      {String(VANTREL_TEST_DATA), "not a regular file"},
      {fifo, "not a regular file"}};
  for (const auto& [bad, reason] : bad_paths) {
    file.read_file(two);
    EXPECT_EQ(fatal_text([&] { file.read_file(bad); }),
              "SEQfile: read_file error: cannot read " + bad + ": " + reason);
    MMoleculeSequence seqs;
    file.import_molecule_sequence(seqs);
    EXPECT_EQ(seqs.size(), 0);
  }
}
