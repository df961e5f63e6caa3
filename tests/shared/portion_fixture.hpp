// Small ITC files for tests of joining portions: a header of the usual form, a
// baseline after "@0" and injections with their data lines. Every field can be
// changed to show one difference at a time.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tandemo::test {

struct Portion {
  std::string countLine = "$ 2 ";  // empty: derived from injections
  int injections = 2;
  std::string temperature = "$ 25 ";
  std::string syringe = "# 0.1 ";
  std::string cellConcentration = "# 0.05 ";
  std::string cell = "# 1.4266 ";
  std::string unit;  // the instrument unit's "%" line; none when empty
  std::string instrument = "% VPViewer2000 Ver: 1.30.0";
  int step = 2;
  int linesPerInjection = 3;
  int baselineLines = 3;
  double dp = 10.5;  // DP of the first baseline line; each data line adds 0.01
  std::string injectionLine(int k) const {
    return "$ " + std::to_string(k + 9) + " , 20 , 600 , 2 ";
  }

  std::string Text() const {
    std::vector<std::string> lines = {
        "$ITC",    countLine, "$NOT", temperature,         "$ 300 ",
        "$ 1000 ", "$ 5 ",    "$ 2 ", "$ADCGainCode:  0 ", "$False,True,True"};
    for (int k = 1; k <= injections; ++k) lines.push_back(injectionLine(k));
    lines.insert(lines.end(), {"# 0 ", syringe, cellConcentration, cell, "# 25 ", "?"});
    if (!unit.empty()) lines.push_back(unit);
    lines.insert(lines.end(), {instrument, "% 43.1 "});
    int t = 0;
    double v = dp;
    auto data = [&] {
      t += step;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%d.00,%.5f,25.01", t, v);
      v += 0.01;
      lines.emplace_back(buf);
    };
    lines.emplace_back("@0");
    for (int i = 0; i < baselineLines; ++i) data();
    for (int k = 1; k <= injections; ++k) {
      lines.push_back("@" + std::to_string(k) + ",10.0000,20.0");
      for (int i = 0; i < linesPerInjection; ++i) data();
    }
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    return text;
  }
};

}  // namespace tandemo::test
