// Reader handle call sequences written as text, so the documented sequences
// read as one line each: R read, P peek, E read end, S skip level, N name,
// V value, A the attribute "k"; each with its expected status and, for N, V
// and A, ":" and the expected text ("R0 N0:a E30 V0:x"). Other letters go to
// the caller's hook with their number.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "twxml/handles.h"

inline void Steps(_XmlLiteReaderS* r, const std::string& steps, const std::function<void(char, int)>& other = {}) {
  std::istringstream in(steps);
  for (std::string step; in >> step;) {
    SCOPED_TRACE(step);
    const size_t colon = step.find(':');
    const int expected = std::stoi(step.substr(1, colon - 1));
    char buffer[64] = "";
    int status = -1;
    switch (step[0]) {
      case 'R': status = XmlLiteReadElemF(r); break;
      case 'P': status = XmlLitePeekElemF(r); break;
      case 'E': status = XmlLiteReadEndElemF(r); break;
      case 'S': status = XmlLiteSkipLevelF(r); break;
      case 'N': status = XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer); break;
      case 'V': status = XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer); break;
      case 'A': status = XmlLiteGetAttrValueToBufF(r, "k", buffer, sizeof buffer); break;
      default:
        ASSERT_TRUE(other) << "unknown step";
        other(step[0], expected);
        continue;
    }
    EXPECT_EQ(expected, status);
    if (colon != std::string::npos) {
      EXPECT_EQ(step.substr(colon + 1), buffer);
    }
  }
}
