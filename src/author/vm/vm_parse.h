// Parsing a command text into its statement list.
#pragma once

#include "author/model.h"
#include "author/vm/vm_statement.h"

namespace author {

// The outcome of one run of the parser.
enum class VmParseStatus {
    kParsed = 0,
    kSyntaxError = 1,    // includes a token the scanner refused (its message is printed)
    kStackOverflow = 2,  // nesting deeper than the parser's stack allows
};

struct VmParseOutcome {
    VmParseStatus status = VmParseStatus::kSyntaxError;
    std::unique_ptr<VmStatement> statements;  // set when parsed
};

// Runs the scanner and parser over the text without judging the result; vm_parse (model.h) is
// the engine's entry, which turns a failure into a fatal error.
VmParseOutcome vm_parse_text(const char* text);

}  // namespace author
