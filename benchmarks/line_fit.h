// A straight line through measured points, and how far the points stray
// from it: for checking that a cost grows linearly.
#pragma once

#include <vector>

namespace bench {

struct LineFit {
  double intercept = 0;
  double slope = 0;
  // The largest distance of a point from the line, as a share of the
  // point's own value (0.05 is 5 %).
  double worst_deviation = 0;
  // Share of the points' spread that the line explains (1 for a perfect line).
  double r_squared = 0;
  // Cost of each step from one point to the next, per unit of x.
  std::vector<double> step_slopes;
};

// Least squares fit of y = intercept + slope * x, over points in rising x.
// Needs two or more points with different x; gives an all-zero fit
// otherwise.
LineFit fit_line(const std::vector<double>& x, const std::vector<double>& y);

}  // namespace bench
