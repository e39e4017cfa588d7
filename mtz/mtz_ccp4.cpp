#include "mtz/mtz_ccp4.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "foundation/message.h"
#include "foundation/util.h"
#include "mtz/mtz_header_check.h"
#include "symmetry/spgr_descr.h"
#include "symmetry/symop.h"
#include "system/file_access.h"
#include "system/system_call.h"

namespace vantrel {

namespace {

// Point-group symbol of each space-group number 0..230, as runs of equal
// entries (last number of the run, symbol), oriented like the group's
// Hermann-Mauguin symbol; 0 stands for a group without a number.
const char* point_group_symbol(const int number) {
  static const struct {
    int last;
    const char* symbol;
  } runs[] = {
      {0, "?"},     {1, "1"},      {2, "-1"},     {5, "2"},      {9, "m"},       {15, "2/m"},
      {24, "222"},  {46, "mm2"},   {74, "mmm"},   {80, "4"},     {82, "-4"},     {88, "4/m"},
      {98, "422"},  {110, "4mm"},  {114, "-42m"}, {120, "-4m2"}, {122, "-42m"},  {142, "4/mmm"},
      {146, "3"},   {148, "-3"},   {149, "312"},  {150, "321"},  {151, "312"},   {152, "321"},
      {153, "312"}, {155, "321"},  {156, "3m1"},  {157, "31m"},  {158, "3m1"},   {159, "31m"},
      {161, "3m1"}, {163, "-31m"}, {167, "-3m1"}, {173, "6"},    {174, "-6"},    {176, "6/m"},
      {182, "622"}, {186, "6mm"},  {188, "-6m2"}, {190, "-62m"}, {194, "6/mmm"}, {199, "23"},
      {206, "m-3"}, {214, "432"},  {220, "-43m"}, {230, "m-3m"}};
  for (const auto& run : runs)
    if (number <= run.last) return number < 0 ? "?" : run.symbol;
  return "?";
}

// Copies at most n - 1 characters of text into a fixed field, NUL-terminated.
template <std::size_t N> void copy_field(char (&field)[N], const std::string& text, std::size_t n) {
  n = std::min(n, N - 1);
  const std::size_t k = std::min(n, text.size());
  std::memcpy(field, text.data(), k);
  field[k] = '\0';
}

}  // namespace

File_not_logical_name::File_not_logical_name(const String& name) : name_(name) {
  if (const char* value = std::getenv(name_.c_str())) {
    value_ = value;
    unsetenv(name_.c_str());
  }
}

File_not_logical_name::~File_not_logical_name() {
  const int error = errno;  // as the library's open left it, for its caller
  if (value_) setenv(name_.c_str(), value_->c_str(), 1);
  errno = error;
}

Mtz_input::Mtz_input(const String& filename, const String& operation) : name_(filename) {
  // A missing file is "missing"; a path that is no readable regular file
  // (a FIFO would block the reader) is refused with the reason. The file is
  // opened once: what is read is the file judged.
  struct stat st;
  if (stat(filename.c_str(), &st) != 0 && errno == ENOENT)
    fatal("CCP4MTZfile: " + operation + " - " + mtz_damaged + ": " + filename);
  int in = Files::open_input(filename, "CCP4MTZfile");
  int error = fstat(in, &st) != 0 ? errno : 0;
  // The copy is a file: a file size limit (ulimit -f) below the file's
  // size forbids it, and the library reads the file opened itself.
  rlimit limit;
  if (error == 0 && getrlimit(RLIMIT_FSIZE, &limit) == 0 && rlim_t(st.st_size) > limit.rlim_cur) {
    fd_ = in;
    path_ = System::fd_path(fd_);
    return;
  }
  if (error == 0 && (fd_ = memfd_create("mtz", MFD_CLOEXEC)) < 0) error = errno;
  // The file as it stands when opened: its size then, or less should it shrink.
  char buffer[1 << 16];
  for (off_t left = st.st_size; error == 0 && left > 0;) {
    const ssize_t n = read(in, buffer, std::size_t(std::min<off_t>(sizeof buffer, left)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : 0;
      break;
    }
    if (!System::write_all(fd_, buffer, std::size_t(n))) error = errno;
    left -= n;
  }
  System::close_fd(in);
  if (error != 0) {
    System::close_fd(fd_);
    fatal("CCP4MTZfile: cannot read " + filename + ": " + System::reason(error));
  }
  path_ = System::fd_path(fd_);
}

Mtz_input::~Mtz_input() { System::close_fd(fd_); }

Mtz_ptr mtz_get_header(const Mtz_input& file, const String& operation) {
  const String where = "CCP4MTZfile: " + operation + " - ";
  const std::string fault = mtz_layout_fault(file.path());
  if (!fault.empty()) fatal(where + fault + ": " + file.name());
  Mtz_ptr mtz;
  {
    const File_not_logical_name plain(file.path());
    mtz.reset(CMtz::MtzGet(file.path().c_str(), 0));
  }
  if (!mtz) fatal(where + mtz_damaged + ": " + file.name());
  CMtz::MtzAssignHKLtoBase(mtz.get());
  return mtz;
}

String mtz_col_path(CMtz::MTZ* mtz, CMtz::MTZCOL* column) {
  char* path = CMtz::MtzColPath(mtz, column);
  const String result(path);
  std::free(path);
  return result;
}

std::vector<CMtz::MTZCOL*> build_lookup(CMtz::MTZ* mtz) {
  std::vector<CMtz::MTZCOL*> lookup;
  for (int x = 0; x < CMtz::MtzNxtal(mtz); ++x) {
    CMtz::MTZXTAL* xtal = CMtz::MtzIxtal(mtz, x);
    for (int s = 0; s < CMtz::MtzNsetsInXtal(xtal); ++s) {
      CMtz::MTZSET* set = CMtz::MtzIsetInXtal(xtal, s);
      for (int c = 0; c < CMtz::MtzNcolsInSet(set); ++c)
        lookup.push_back(CMtz::MtzIcolInSet(set, c));
    }
  }
  return lookup;
}

void read_hierarchy(CMtz::MTZ* mtz, std::vector<CCP4MTZfile::crystalinf>& crystals) {
  crystals.clear();
  for (int x = 0; x < CMtz::MtzNxtal(mtz); ++x) {
    CMtz::MTZXTAL* xtal = CMtz::MtzIxtal(mtz, x);
    const float* c = xtal->cell;
    const Cell cell(Cell_descr(c[0], c[1], c[2], c[3], c[4], c[5]));
    crystals.push_back({MTZcrystal(xtal->xname, xtal->pname, cell), {}});
    for (int s = 0; s < CMtz::MtzNsetsInXtal(xtal); ++s) {
      CMtz::MTZSET* set = CMtz::MtzIsetInXtal(xtal, s);
      crystals.back().datasets.push_back({MTZdataset(set->dname, set->wavelength), {}});
      for (int k = 0; k < CMtz::MtzNcolsInSet(set); ++k) {
        const CMtz::MTZCOL* col = CMtz::MtzIcolInSet(set, k);
        crystals.back().datasets.back().columns.push_back({col->label, col->type});
      }
    }
  }
}

std::vector<Symop> read_symops(CMtz::MTZ* mtz) {
  const CMtz::SYMGRP& symm = mtz->mtzsymm;
  if (symm.nsym <= 0 || symm.nsym > 192) return {};
  std::vector<Symop> ops;
  for (int s = 0; s < symm.nsym; ++s) {
    double mat[4][4];
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) mat[i][j] = symm.sym[s][i][j];
    // A rotation must be integral and a translation finite; anything else
    // is a damaged header, not an operator.
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j)
        if (mat[i][j] != -1.0 && mat[i][j] != 0.0 && mat[i][j] != 1.0) return {};
      // Translations are fractions of a cell; 1000 cells is already absurd.
      if (!std::isfinite(mat[i][3]) || std::fabs(mat[i][3]) > 1.0e3) return {};
    }
    ops.push_back(Symop(mat));
  }
  return ops;
}

void read_spacegroup(CMtz::MTZ* mtz, Spacegroup& spacegroup) {
  const std::vector<Symop> ops = read_symops(mtz);
  if (ops.empty()) fatal("CCP4MTZfile: invalid symmetry operators");
  String text;
  for (const Symop& op : ops) text += op.format() + ";";
  spacegroup.init(Spgr_descr(text, Spgr_descr::Symops));
}

Row_indices row_indices(const float* values, const int* missing, const int pos[3], HKL& hkl) {
  // Far beyond any real reflection list, yet well inside an int.
  constexpr float max_index = 100000.0f;
  bool whole = true;
  for (int i = 0; i < 3; ++i) {
    const float v = values[pos[i]];
    if (missing[pos[i]] != 0 || !(std::fabs(v) <= max_index)) return Row_indices::unheld;
    // Writers store each index as the float of an integer, which holds it
    // exactly; a fraction rounded would take another reflection's place.
    whole = whole && v == std::rint(v);
    hkl[i] = int(std::lrint(v));
  }
  return whole ? Row_indices::held : Row_indices::fractional;
}

bool row_hkl(const float* values, const int* missing, const int pos[3], HKL& hkl) {
  return row_indices(values, missing, pos, hkl) == Row_indices::held;
}

void index_positions(const std::vector<CMtz::MTZCOL*>& lookup, int hkl[3]) {
  hkl[0] = 0;
  hkl[1] = 1;
  hkl[2] = 2;
  for (int p = 0; p < int(lookup.size()); ++p) {
    const String label(lookup[p]->label);
    if (label == "H") hkl[0] = p;
    if (label == "K") hkl[1] = p;
    if (label == "L") hkl[2] = p;
  }
}

Row_reach row_reach(CMtz::MTZ* mtz, const Cell& cell, const double limit, const String& filename,
                    const String& operation) {
  const std::vector<CMtz::MTZCOL*> lookup = build_lookup(mtz);
  int pos[3];
  index_positions(lookup, pos);
  const CMtz::MTZCOL* cols[3] = {lookup[pos[0]], lookup[pos[1]], lookup[pos[2]]};
  const int at[3] = {0, 1, 2};
  Row_reach reach;
  reach.rows = CMtz::MtzNref(mtz);
  float values[3], resol;
  int missing[3];
  for (int row = 1; row <= reach.rows; ++row) {
    if (CMtz::ccp4_lrreff(mtz, &resol, values, missing, cols, 3, row) != 0)
      fatal("CCP4MTZfile: " + operation + " - File truncated: " + filename);
    HKL hkl;
    const Row_indices indices = row_indices(values, missing, at, hkl);
    if (indices == Row_indices::unheld && reach.unindexed++ == 0) reach.first_unindexed = row;
    if (indices == Row_indices::fractional && reach.fractional++ == 0) reach.first_fractional = row;
    if (indices != Row_indices::held) continue;
    const double s = hkl.invresolsq(cell);
    reach.finest = std::max(reach.finest, s);
    reach.beyond += s >= limit;
  }
  return reach;
}

void reference_cols(CMtz::MTZ* mtz, const std::vector<CMtz::MTZCOL*>& lookup,
                    const std::vector<std::vector<CCP4MTZfile::hkldatacol>>& cols,
                    std::vector<std::vector<int>>& positions,
                    std::vector<std::vector<double>>& scales) {
  std::vector<String> paths;
  for (CMtz::MTZCOL* col : lookup) paths.push_back(mtz_col_path(mtz, col));
  positions.assign(cols.size(), {});
  scales.assign(cols.size(), {});
  for (std::size_t j = 0; j < cols.size(); ++j) {
    positions[j].assign(cols[j].size(), -1);
    scales[j].assign(cols[j].size(), 1.0);
    for (std::size_t k = 0; k < cols[j].size(); ++k) {
      if (is_virtual_col(cols[j][k].path)) continue;
      const auto found = std::find(paths.begin(), paths.end(), cols[j][k].path);
      if (found == paths.end()) fatal("CCP4MTZfile - internal error");
      positions[j][k] = int(found - paths.begin());
      scales[j][k] = cols[j][k].scale;
    }
  }
}

std::size_t widest(const std::vector<std::vector<int>>& positions) {
  std::size_t width = 0;
  for (const std::vector<int>& p : positions) width = std::max(width, p.size());
  return width;
}

void write_hierarchy(CMtz::MTZ* mtz, const std::vector<CCP4MTZfile::crystalinf>& crystals) {
  for (const CCP4MTZfile::crystalinf& xi : crystals) {
    const MTZcrystal& c = xi.crystal;
    float cell[6] = {float(c.a()),         float(c.b()),        float(c.c()),
                     float(c.alpha_deg()), float(c.beta_deg()), float(c.gamma_deg())};
    if (!writable_cell(c))
      fatal("CCP4MTZfile: Invalid cell of crystal " + c.crystal_name() + ": " + c.format());
    CMtz::MTZXTAL* xtal =
        CMtz::MtzAddXtal(mtz, c.crystal_name().c_str(), c.project_name().c_str(), cell);
    if (xtal == nullptr) fatal("CCP4MTZfile - internal error");
    for (const CCP4MTZfile::datasetinf& si : xi.datasets) {
      CMtz::MTZSET* set = CMtz::MtzAddDataset(mtz, xtal, si.dataset.dataset_name().c_str(),
                                              float(si.dataset.wavelength()));
      if (set == nullptr) fatal("CCP4MTZfile - internal error");
      for (const CCP4MTZfile::datacolinf& ci : si.columns)
        if (CMtz::MtzAddColumn(mtz, set, ci.label.c_str(), ci.type.c_str()) == nullptr)
          fatal("CCP4MTZfile - internal error");
    }
  }
}

void write_spacegroup(CMtz::MTZ* mtz, const Spacegroup& spacegroup) {
  const String hm = spacegroup.symbol_hm();
  const int number = spacegroup.spacegroup_number();
  const String pg = String("PG") + point_group_symbol(number);
  String name;
  for (const char ch : hm) {
    if (ch == ':') break;
    if (ch != ' ') name += ch;
  }
  CMtz::SYMGRP& symm = mtz->mtzsymm;
  symm.spcgrp = number;
  symm.nsym = spacegroup.op_count();
  symm.nsymp = spacegroup.primitive_count();
  symm.symtyp = hm.empty() ? 'P' : hm[0];
  copy_field(symm.spcgrpname, name, 11);
  copy_field(symm.pgname, pg, 10);
  for (int s = 0; s < spacegroup.op_count(); ++s) {
    const Symop& op = spacegroup.symop(s);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) symm.sym[s][i][j] = float(op.rot()(i, j));
      symm.sym[s][i][3] = float(op.trn()[i]);
    }
  }
}

}  // namespace vantrel
