// Text form of the coefficient run/level tables (see wma_tables.h).
#ifndef ASFWRITER_TABLES_WMA_COEF_DATA_H
#define ASFWRITER_TABLES_WMA_COEF_DATA_H

namespace asfw {

struct WmaCoefTableText {
    const char* codes;         // hexadecimal code words, one per symbol
    const char* lengths;       // code lengths in bits, one per symbol
    const char* runsPerLevel;  // for level 1, 2, ...: how many runs (0..n-1) have a symbol
};

const WmaCoefTableText& wmaCoefTableText(int index);

}  // namespace asfw

#endif
