// Built-in counts of observed main-chain torsion pairs (phi, psi) for
// glycine, proline and all other residues.
#ifndef VANTREL_MODEL_RAMACHANDRAN_TABLES_H
#define VANTREL_MODEL_RAMACHANDRAN_TABLES_H

namespace vantrel {
namespace data {

//! Grid size of each table along each angle (10-degree bins).
extern const int rama_data_size;
//! rama_data_size^2 whole counts; entry 36 i + j counts phi in bin i
//! (10 i degrees, 0 to 350) and psi in bin j, so negative angles sit in the
//! upper rows and columns.
extern const float rama_gly[];
extern const float rama_pro[];
//! Neither glycine nor proline.
extern const float rama_ngp[];

}  // namespace data
}  // namespace vantrel

#endif
