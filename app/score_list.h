// Bounded list of scored items in ascending order of score (lower is better).
#ifndef QUELVARN_APP_SCORE_LIST_H
#define QUELVARN_APP_SCORE_LIST_H

#include <utility>
#include <vector>

//! At most capacity (score, item) entries, ascending by score.
/*! A new entry goes before every entry of equal score; a full list refuses
  a score that is not below its last one, and otherwise drops its last
  entry to make room. */
template <class T> class Score_list {
 public:
  explicit Score_list(int capacity) : capacity_(capacity) {
    if (capacity > 0) entries_.reserve(std::size_t(capacity));
  }

  void add(const double& score, const T& item) {
    if (int(entries_.size()) >= capacity_) {
      if (entries_.empty() || !(score < entries_.back().first)) return;
      entries_.pop_back();
    }
    // After the last entry whose score is strictly below the new one.
    std::size_t pos = entries_.size();
    while (pos > 0 && !(entries_[pos - 1].first < score)) --pos;
    entries_.insert(entries_.begin() + pos, std::make_pair(score, item));
  }

  //! The item of entry i (0 is the best); no range check.
  const T& operator[](const int& i) const { return entries_[i].second; }
  //! The score of entry i; no range check.
  double score(const int& i) const { return entries_[i].first; }
  int size() const { return int(entries_.size()); }
  int capacity() const { return capacity_; }

 private:
  int capacity_;
  std::vector<std::pair<double, T>> entries_;
};

#endif
