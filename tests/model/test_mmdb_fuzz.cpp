#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "model/mmdb_file.h"
#include "support/testing.h"

using namespace vantrel;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One random damage of a text: a cut, overwritten bytes, lost, repeated or
// swapped lines, or digits turned into letters.
std::string mangle(std::string text, std::mt19937& rng) {
  const auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  const auto line_at = [&](std::size_t pos) {
    const std::size_t begin = text.rfind('\n', pos) == std::string::npos ? 0 : text.rfind('\n', pos) + 1;
    const std::size_t end = text.find('\n', pos);
    return std::make_pair(begin, end == std::string::npos ? text.size() : end + 1);
  };
  switch (pick(6)) {
    case 0:
      text.resize(pick(text.size()));
      break;
    case 1:
      for (std::size_t k = pick(20) + 1; k > 0; --k) text[pick(text.size())] = char(pick(256));
      break;
    case 2: {
      const auto l = line_at(pick(text.size()));
      text.erase(l.first, std::min(text.size(), l.second + pick(2000)) - l.first);
      break;
    }
    case 3: {
      const auto l = line_at(pick(text.size()));
      text.insert(l.first, text.substr(l.first, l.second - l.first));
      break;
    }
    case 4: {
      const auto a = line_at(pick(text.size() / 2));
      const auto b = line_at(text.size() / 2 + pick(text.size() / 2));
      if (a.second <= b.first) {
        const std::string la = text.substr(a.first, a.second - a.first);
        const std::string lb = text.substr(b.first, b.second - b.first);
        text.replace(b.first, lb.size(), la);
        text.replace(a.first, la.size(), lb);
      }
      break;
    }
    default: {
      const auto l = line_at(pick(text.size()));
      for (std::size_t i = l.first; i < l.second; ++i)
        if (text[i] >= '0' && text[i] <= '9') text[i] = char('A' + text[i] - '0');
    }
  }
  return text;
}

}  // namespace

// Mangled copies of real PDB and mmCIF files either read (and then import,
// export and write without trouble) or give the read fatal message with the
// file name; nothing crashes or hangs.
TEST(CoordinateFileFuzz, MangledFilesReadOrFailCleanly) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vantrel_fuzz_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::mt19937 rng(20261207);
  int read = 0, refused = 0;
  for (const std::string source : {"sm_1dur.pdb", "tiny_5e5z_variant.cif"}) {
    const std::string original = slurp(vantrel_testing::fixture_path(source));
    ASSERT_GT(original.size(), 10000u);
    for (int copy = 0; copy < 150; ++copy) {
      const std::string path = (dir / (std::to_string(copy) + "_" + source)).string();
      std::ofstream(path, std::ios::binary) << mangle(original, rng);
      SCOPED_TRACE(path);
      MMDBfile file;
      const String error = vantrel_testing::fatal_text([&] { file.read_file(path); });
      if (error != "no error") {
        EXPECT_EQ(error.rfind("MMDBfile: read_file error: " + path + " : ", 0), 0u) << error;
        ++refused;
        continue;
      }
      ++read;
      MiniMol mol;
      file.import_minimol(mol, -1);
      const Atom_list atoms = mol.atom_list();
      for (const Atom& a : atoms) EXPECT_FALSE(a.is_null());
      file.export_minimol(mol);
      MMDBfile fresh;
      fresh.export_minimol(mol);
      fresh.write_file(path + ".out", MMDBManager::CIF);
    }
  }
  std::filesystem::remove_all(dir);
  EXPECT_EQ(read + refused, 300);
  EXPECT_GT(read, 50);
  EXPECT_GT(refused, 5);
}
