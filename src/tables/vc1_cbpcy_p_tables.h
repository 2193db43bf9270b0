// Coded block pattern of P picture macroblocks (SMPTE 421M): four VLC
// tables chosen by CBPTAB, indexed by the 6-bit pattern (bit 5 = Y0,
// bit 4 = Y1, bit 3 = Y2, bit 2 = Y3, bit 1 = Cb, bit 0 = Cr).
#ifndef ASFWRITER_TABLES_VC1_CBPCY_P_TABLES_H
#define ASFWRITER_TABLES_VC1_CBPCY_P_TABLES_H

#include "bitwriter/bit_writer.h"

namespace asfw {

constexpr int kVc1CbpcyPTables = 4;
extern const VlcCode kVc1CbpcyPVlc[kVc1CbpcyPTables][64];

}  // namespace asfw

#endif
