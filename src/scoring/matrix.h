// Column-major matrices with 1-based element access: m(i, j) is row i,
// column j, and a column is contiguous. Score matrices are N x N with
// N = max(L1, L2); entry (i, j) pairs residue i of structure 1 with residue j
// of structure 2.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvix {

template <class T>
class Grid {
 public:
  Grid() = default;
  Grid(int rows, int cols, T fill = T{}) { resize(rows, cols, fill); }
  void resize(int rows, int cols, T fill = T{}) {
    ld_ = rows;
    cols_ = cols;
    v_.assign(static_cast<size_t>(rows) * static_cast<size_t>(cols), fill);
  }
  int ld() const { return ld_; }
  int cols() const { return cols_; }
  T& operator()(int i, int j) { return v_[static_cast<size_t>(j - 1) * ld_ + (i - 1)]; }
  const T& operator()(int i, int j) const { return v_[static_cast<size_t>(j - 1) * ld_ + (i - 1)]; }
  T* data() { return v_.data(); }
  const T* data() const { return v_.data(); }
  void fill(T value) { std::fill(v_.begin(), v_.end(), value); }
  // Sets rows 1..rows x columns 1..cols to value.
  void fill_block(int rows, int cols, T value) {
    for (int j = 1; j <= cols; ++j) std::fill_n(&v_[static_cast<size_t>(j - 1) * ld_], rows, value);
  }
  // Copies rows 1..rows x columns 1..cols of other (same leading dimension or not).
  void copy_block(const Grid& other, int rows, int cols) {
    for (int j = 1; j <= cols; ++j)
      std::copy_n(&other.v_[static_cast<size_t>(j - 1) * other.ld_], rows, &v_[static_cast<size_t>(j - 1) * ld_]);
  }

 private:
  int ld_ = 0;
  int cols_ = 0;
  std::vector<T> v_;
};

using ScoreMatrix = Grid<double>;
using FlagMatrix = Grid<std::int8_t>;  // matched-pair matrix: 1 matched, -1 not

inline constexpr double kOtherSide = -100000.0;  // score of a pair across interface sides

}  // namespace tarvix
