// The LDF tokenizer: a pull tokenizer over the shared input and rules with the LDF
// keyword table. Line ends are always white space and // and /* */ comments are
// skipped wherever white space may stand; the LDF reader never looks at lines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lex_rules.h"

namespace vexo::io {

namespace ldf {
// A code of TOK_IDENTIFIER or more is a word: a plain identifier or a keyword.
// ORDER LDF_KEYWORD
constexpr int32_t TOK_IDENTIFIER = 0x8000;
constexpr int32_t TOK_LIN_description_file = 0x8001;
constexpr int32_t TOK_LIN_protocol_version = 0x8002;
constexpr int32_t TOK_LIN_language_version = 0x8003;
constexpr int32_t TOK_LIN_speed = 0x8004;
constexpr int32_t TOK_kbps = 0x8005;
constexpr int32_t TOK_Channel_name = 0x8006;
constexpr int32_t TOK_ms = 0x8007;
constexpr int32_t TOK_Nodes = 0x8008;
constexpr int32_t TOK_Diagnostic_addresses = 0x8009;
constexpr int32_t TOK_Master = 0x800A;
constexpr int32_t TOK_Slaves = 0x800B;
constexpr int32_t TOK_composite = 0x800C;
constexpr int32_t TOK_configuration = 0x800D;
constexpr int32_t TOK_Signals = 0x800E;
constexpr int32_t TOK_Diagnostic_signals = 0x800F;
constexpr int32_t TOK_Frames = 0x8010;
constexpr int32_t TOK_Sporadic_frames = 0x8011;
constexpr int32_t TOK_Event_triggered_frames = 0x8012;
// 0x8013 and 0x8014 are unused.
constexpr int32_t TOK_Diagnostic_frames = 0x8015;
constexpr int32_t TOK_Node_attributes = 0x8016;
constexpr int32_t TOK_LIN_protocol = 0x8017;
constexpr int32_t TOK_configured_NAD = 0x8018;
constexpr int32_t TOK_initial_NAD = 0x8019;
constexpr int32_t TOK_product_id = 0x801A;
constexpr int32_t TOK_response_error = 0x801B;
constexpr int32_t TOK_fault_state_signals = 0x801C;
constexpr int32_t TOK_P2_min = 0x801D;
constexpr int32_t TOK_ST_min = 0x801E;
constexpr int32_t TOK_N_As_timeout = 0x801F;
constexpr int32_t TOK_N_Cr_timeout = 0x8020;
constexpr int32_t TOK_configurable_frames = 0x8021;
constexpr int32_t TOK_Schedule_tables = 0x8022;
constexpr int32_t TOK_delay = 0x8023;
constexpr int32_t TOK_Signal_groups = 0x8024;
constexpr int32_t TOK_Signal_encoding_types = 0x8025;
constexpr int32_t TOK_Signal_representation = 0x8026;
constexpr int32_t TOK_AssignNAD = 0x8027;
constexpr int32_t TOK_ConditionalChangeNAD = 0x8028;
constexpr int32_t TOK_DataDump = 0x8029;
constexpr int32_t TOK_SaveConfiguration = 0x802A;
constexpr int32_t TOK_AssignFrameIdRange = 0x802B;
constexpr int32_t TOK_FreeFormat = 0x802C;
constexpr int32_t TOK_AssignFrameId = 0x802D;
constexpr int32_t TOK_logical_value = 0x802E;
constexpr int32_t TOK_physical_value = 0x802F;
constexpr int32_t TOK_bcd_value = 0x8030;
constexpr int32_t TOK_ascii_value = 0x8031;

inline bool isWord(int32_t code)
{
    return code >= TOK_IDENTIFIER;
}
}  // namespace ldf

struct LdfLexer {
    static constexpr int32_t kIdentifier = ldf::TOK_IDENTIFIER;
    static constexpr bool kNestsBraces = true;  // tolerant reading recovers by brace depth
    LexerCore core;
};

// Reads the next token, skipping white space and comments; its code is returned and
// left in core.tokenCode with its text, value, line and column. A '/' that starts
// no comment is the token '/' with an empty text.
int32_t nextToken(LdfLexer *lexer);

// The keyword code of a word, or ldf::TOK_IDENTIFIER (exact, case-sensitive).
int32_t findLdfKeyword(const char *word, size_t length);

}  // namespace vexo::io
