#include "author/vm/vm_parse.h"

#include <string>

#include "author/diagnostics.h"
#include "vm_grammar.hpp"
#include "vm_scanner.hpp"

int dvdvmparse(yyscan_t scanner, author::VmStatement** result);

namespace author {

namespace {

// One scanner per parse, so nothing of an earlier (failed) text carries over.
class ScannerSession {
public:
    explicit ScannerSession(const char* text) {
        if (dvdvmlex_init(&scanner_) != 0) fatal("ERR:  Cannot start the command scanner\n");
        dvdvm_scan_string(text, scanner_);
    }
    ~ScannerSession() { dvdvmlex_destroy(scanner_); }
    ScannerSession(const ScannerSession&) = delete;
    ScannerSession& operator=(const ScannerSession&) = delete;

    yyscan_t get() const { return scanner_; }

private:
    yyscan_t scanner_ = nullptr;
};

}  // namespace

VmParseOutcome vm_parse_text(const char* text) {
    ScannerSession scanner(text);
    VmStatement* parsed = nullptr;
    VmParseOutcome outcome;
    outcome.status = static_cast<VmParseStatus>(dvdvmparse(scanner.get(), &parsed));
    // The list may have been built before a stray token after it failed the parse.
    std::unique_ptr<VmStatement> statements(parsed);
    if (outcome.status == VmParseStatus::kParsed) outcome.statements = std::move(statements);
    return outcome;
}

VmCommands vm_parse(const char* text) {
    if (text == nullptr) return vm_statement_create(VMOP_NOP);
    VmParseOutcome outcome = vm_parse_text(text);
    if (outcome.status != VmParseStatus::kParsed) fatal("ERR:  Parser failed on code '%s'.\n", text);
    if (!outcome.statements) fatal("ERR:  Nothing parsed from '%s'\n", text);
    return VmCommands(std::move(outcome.statements));
}

}  // namespace author
