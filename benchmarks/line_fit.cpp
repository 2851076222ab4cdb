#include "benchmarks/line_fit.h"

#include <algorithm>
#include <cmath>

namespace bench {

LineFit fit_line(const std::vector<double>& x, const std::vector<double>& y) {
  LineFit fit;
  const std::size_t n = std::min(x.size(), y.size());
  if (n < 2) return fit;
  double mean_x = 0;
  double mean_y = 0;
  for (std::size_t i = 0; i < n; ++i) {
    mean_x += x[i];
    mean_y += y[i];
  }
  mean_x /= static_cast<double>(n);
  mean_y /= static_cast<double>(n);
  double sxx = 0;
  double sxy = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sxx += (x[i] - mean_x) * (x[i] - mean_x);
    sxy += (x[i] - mean_x) * (y[i] - mean_y);
  }
  if (sxx == 0) return fit;
  fit.slope = sxy / sxx;
  fit.intercept = mean_y - fit.slope * mean_x;
  double syy = 0;
  double residual = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double on_line = fit.intercept + fit.slope * x[i];
    const double scale = std::fabs(y[i]) > 0 ? std::fabs(y[i]) : 1.0;
    fit.worst_deviation = std::max(fit.worst_deviation, std::fabs(y[i] - on_line) / scale);
    syy += (y[i] - mean_y) * (y[i] - mean_y);
    residual += (y[i] - on_line) * (y[i] - on_line);
  }
  fit.r_squared = syy > 0 ? 1 - residual / syy : 1;
  for (std::size_t i = 1; i < n; ++i) {
    if (x[i] != x[i - 1]) fit.step_slopes.push_back((y[i] - y[i - 1]) / (x[i] - x[i - 1]));
  }
  return fit;
}

}  // namespace bench
