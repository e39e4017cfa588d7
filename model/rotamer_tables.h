// Built-in side-chain rotamer table: one record per atom of each common
// side-chain conformation of nineteen amino-acid types and selenomethionine.
#ifndef VANTREL_MODEL_ROTAMER_TABLES_H
#define VANTREL_MODEL_ROTAMER_TABLES_H

namespace vantrel {
namespace data {

//! One side-chain atom of one rotamer.
/*! Records are sorted by residue type (byte order), then rotamer number;
  the atoms of a rotamer are consecutive, in the same order for every
  rotamer of a type. Rotamers are numbered by non-increasing frequency.
  Positions are in Angstroms in the residue frame with origin CA:
  a = unit(unit(C - CA) + unit(N - CA)), b = unit((C - CA) x (N - CA)),
  c = unit(a x b), a record standing for CA + x a + y b + z c. */
struct Rotamer_record {
  const char* type;   //!< three-letter residue name
  int rotamer_count;  //!< rotamers listed for the type
  int rotamer;        //!< 0 .. rotamer_count - 1
  float frequency;    //!< among the rotamers of the type
  int atom_count;     //!< atoms in one rotamer of the type
  const char* atom;   //!< 4-character PDB atom name
  float x, y, z;
};

extern const int rotamer_data_size;
extern const Rotamer_record rotamer_data[];

}  // namespace data
}  // namespace vantrel

#endif
