#pragma once
// Dense LU factorization with partial pivoting for the regression's normal
// equations. Matrices are stored by rows, a[i * n + k] being row i, column k.

#include <span>

namespace calivant {

// Factors the n x n matrix in place. pivots[k] (k < n - 1) receives the row
// swapped with row k, pivots[n - 1] the sign of the permutation (+1 or -1).
// Returns 1 when a pivot is exactly 0.0 (no tolerance), else 0.
int luFactor(std::span<double> a, int n, std::span<int> pivots);

// Solves with a matrix factored by luFactor; b holds the right-hand side on
// entry and the solution on return.
void luSolve(std::span<const double> a, int n, std::span<double> b, std::span<const int> pivots);

}  // namespace calivant
