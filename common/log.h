// Readable dumps of packets into a unit's log (and one header line into the
// QC statistics files). Every line ends in CR LF.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/pkfile.h"

namespace pk {

struct CompressedResult;

// One header line for any known packet type. `sign` is the continuity mark
// of the last DT packet (' ', '-' or '+'); it is consumed (reset to 0).
void log_head(std::FILE* fd, const uint8_t* pkt, PacketType type, int& sign, uint32_t blk_cnt);
// mode 4: the SH text; mode 0: a hex dump of the whole packet.
void log_block(std::FILE* fd, const uint8_t* pkt, int mode);
// The callers add one more "\r\n" after log_eh_et, log_nh_nt and log_dr.
void log_eh_et(std::FILE* fd, const uint8_t* pkt);
void log_nh_nt(std::FILE* fd, const uint8_t* pkt);
void log_sc(std::FILE* fd, const uint8_t* pkt);
void log_ds(std::FILE* fd, const uint8_t* pkt);
void log_cd(std::FILE* fd, const uint8_t* pkt);
void log_om(std::FILE* fd, const uint8_t* pkt);
void log_ad(std::FILE* fd, const uint8_t* pkt);
void log_dr(std::FILE* fd, const uint8_t* pkt);
// A disk format record: 1024 bytes without packet header.
void log_dk_fmt(std::FILE* fd, const uint8_t* rec);
// A compressed packet that does not add up: what it says and what decoding it gave, then
// the packet in hex.
void log_compressed_report(std::FILE* fd, const uint8_t* pkt, const CompressedResult& r);
// The older EH/ET layout.
void log_ehet(std::FILE* fd, const uint8_t* pkt);

}  // namespace pk
