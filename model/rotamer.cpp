#include "model/rotamer.h"

#include <algorithm>

#include "model/mainchain_atom.h"
#include "model/rotamer_tables.h"

namespace vantrel {

int rotamer_find(const String& type, const int n) {
  if (type.size() < 3) return -1;
  const std::string key = type.substr(0, 3);
  // Bisection for the first record not before (key, n).
  int lo = -1, hi = data::rotamer_data_size - 1;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    const int order = key.compare(data::rotamer_data[mid].type);
    if (order < 0 || (order == 0 && n <= data::rotamer_data[mid].rotamer))
      hi = mid;
    else
      lo = mid;
  }
  const data::Rotamer_record& r = data::rotamer_data[hi];
  return key == r.type && r.rotamer == n ? hi : -1;
}

int MMonomer::protein_sidechain_number_of_rotamers() const {
  const int r = rotamer_find(type_, 0);
  return r < 0 ? 0 : data::rotamer_data[r].rotamer_count;
}

double MMonomer::protein_sidechain_build_rotamer(const int& n) {
  const MAtom* ca_atom = detail::find_base(*this, " CA ");
  const MAtom* c_atom = detail::find_base(*this, " C  ");
  const MAtom* n_atom = detail::find_base(*this, " N  ");
  if (!ca_atom || !c_atom || !n_atom) return 0.0;
  const Coord_orth ca = ca_atom->coord_orth(), c = c_atom->coord_orth(), nn = n_atom->coord_orth();
  const double occupancy = ca_atom->occupancy(), u_iso = ca_atom->u_iso();

  children.erase(std::remove_if(children.begin(), children.end(),
                                [](const MAtom& atom) {
                                  const String name = atom.name();
                                  return name != " N  " && name != " CA " && name != " C  " &&
                                         name != " O  ";
                                }),
                 children.end());
  const int r = rotamer_find(type_, n);
  if (r < 0) return 0.0;

  // The residue frame of the table.
  const Vec3<double> to_c = c - ca, to_n = nn - ca;
  const Vec3<double> a = (to_c.unit() + to_n.unit()).unit();
  const Vec3<double> b = Vec3<double>::cross(to_c, to_n).unit();
  const Vec3<double> cc = Vec3<double>::cross(a, b).unit();
  for (int k = r; k < r + data::rotamer_data[r].atom_count; ++k) {
    const data::Rotamer_record& rec = data::rotamer_data[k];
    MAtom atom(Atom::null());
    atom.set_id(rec.atom);
    atom.set_element(String(std::string(rec.atom, 2)).trim());  // " CB " gives C, "SE  " SE
    atom.set_coord_orth(
        Coord_orth(ca + double(rec.x) * a + double(rec.y) * b + double(rec.z) * cc));
    atom.set_occupancy(occupancy);
    atom.set_u_iso(u_iso);
    children.push_back(atom);
  }
  return data::rotamer_data[r].frequency;
}

}  // namespace vantrel
