#include "model/mmdb_hierarchy.h"

#include <algorithm>
#include <map>
#include <vector>

namespace vantrel::mmdb_internal {

namespace {

// The table of models of a manager, which the library keeps from its
// users: a place for each number from 1, empty where no model has it.
struct Model_table : mmdb::Root {
  static mmdb::PPModel& places(mmdb::Root& root) { return root.*(&Model_table::model); }
  static int& size(mmdb::Root& root) { return root.*(&Model_table::nModels); }
};

}  // namespace

void finish_edit(mmdb::Manager& mmdb) {
  std::map<const mmdb::Model*, int> numbers;
  for (int m = 1; m <= mmdb.GetNumberOfModels(); ++m)
    if (mmdb::Model* model = mmdb.GetModel(m)) numbers[model] = model->GetSerNum();
  mmdb.FinishStructEdit();
  // The models left (an edit may drop one), each with the number it had.
  std::vector<std::pair<mmdb::Model*, int>> kept;
  std::map<int, int> uses;
  int places = 0;
  bool packed = true;  // each model at its number already
  for (int m = 1; m <= mmdb.GetNumberOfModels(); ++m)
    if (mmdb::Model* model = mmdb.GetModel(m)) {
      const auto had = numbers.find(model);
      const int number = had == numbers.end() ? m : had->second;
      if (number < 1 || ++uses[number] > 1) return;
      kept.emplace_back(model, number);
      places = std::max(places, number);
      packed = packed && number == m;
    }
  if (packed) return;
  const mmdb::PPModel table = new mmdb::PModel[places]();
  for (const auto& [model, number] : kept) {
    table[number - 1] = model;
    model->SetMMDBManager(&mmdb, number);
  }
  delete[] Model_table::places(mmdb);
  Model_table::places(mmdb) = table;
  Model_table::size(mmdb) = places;
}

}  // namespace vantrel::mmdb_internal
