#include <gtest/gtest.h>

#include <random>

#include "model_testing.h"

using namespace vantrel;

// Mangled copies of real PDB and mmCIF files (a cut, overwritten bytes, a lost
// or repeated stretch, or a stretch's digits turned into letters) either read,
// import, export and write without trouble, or give the read fatal message with
// the file name; nothing crashes or hangs.
TEST(CoordinateFileFuzz, MangledFilesReadOrFailCleanly) {
  const model_testing::Scratch scratch;
  std::mt19937 rng(20261207);
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };
  int read = 0, refused = 0;
  for (const std::string source : {"sm_1dur.pdb", "tiny_5e5z_variant.cif"}) {
    const std::string original = model_testing::slurp(vantrel_testing::fixture_path(source));
    ASSERT_GT(original.size(), 10000u);
    for (int copy = 0; copy < 150; ++copy) {
      std::string text = original;
      const std::size_t at = pick(text.size()), length = std::min(text.size() - at, pick(400) + 1);
      switch (pick(5)) {
        case 0: text.resize(at); break;
        case 1:
          for (std::size_t k = pick(20) + 1; k > 0; --k) text[pick(text.size())] = char(pick(256));
          break;
        case 2: text.erase(at, length); break;
        case 3: text.insert(at, text.substr(pick(text.size()), length)); break;
        default:
          for (std::size_t i = at; i < at + length; ++i)
            if (text[i] >= '0' && text[i] <= '9') text[i] = char('A' + text[i] - '0');
      }
      const String path = scratch.write(std::to_string(copy) + "_" + source, text);
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
      for (const Atom& a : mol.atom_list()) EXPECT_FALSE(a.is_null());
      file.export_minimol(mol);
      MMDBfile fresh;
      fresh.export_minimol(mol);
      // A model whose ids the form cannot hold is refused, never written.
      const String written =
          vantrel_testing::fatal_text([&] { fresh.write_file(path + ".out", MMDBManager::CIF); });
      if (written != "no error")
        EXPECT_EQ(written.rfind("MMDBfile: write_file error: " + path + ".out : ", 0), 0u)
            << written;
      else
        EXPECT_EQ(model_testing::read_model(path + ".out").atom_list().size(),
                  mol.atom_list().size());
    }
  }
  EXPECT_EQ(read + refused, 300);
  EXPECT_GT(read, 50);
  EXPECT_GT(refused, 5);
}
