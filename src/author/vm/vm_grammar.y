/* The grammar of the command language: statements, expressions and conditions.
 *
 * Expressions and conditions are separate: a comparison takes two expressions, and a condition
 * is never an operand of arithmetic. Because of that, `|` and `^` after a comparison's right
 * operand belong to that operand (g1 == 1 | 2 compares g1 with 1 | 2), while the words `and`
 * and `or` end the comparison and join conditions (g1 == 1 or g2 == 2); bison settles the last
 * case through the precedence table below. */

%define api.pure full
%define api.prefix {dvdvm}
%param {yyscan_t scanner}
%parse-param {author::VmStatement** result}
%expect 0

%code requires {
#include "author/vm/vm_statement.h"
#ifndef YY_TYPEDEF_YY_SCANNER_T
#define YY_TYPEDEF_YY_SCANNER_T
typedef void* yyscan_t;
#endif
}

%code {
#include <memory>
#include <utility>

#include "author/diagnostics.h"

// The state stack starts small and doubles up to this depth; deeper nesting is an overflow.
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000

int dvdvmlex(DVDVMSTYPE* value, yyscan_t scanner);

namespace {

using author::VmStatement;
using Node = std::unique_ptr<VmStatement>;

// Nodes travel on the parser's stack as raw pointers that the stack owns (the destructor below
// releases them when a parse fails); every action takes them back into owning pointers.
Node own(VmStatement* node) { return Node(node); }

VmStatement* make(int32_t op) { return author::vm_statement_create(op).release(); }

VmStatement* join(VmStatement* left, int32_t op, VmStatement* right) {
    return author::vm_statement_join(own(left), op, own(right)).release();
}

VmStatement* make_value(int32_t value) {
    VmStatement* node = make(author::VMOP_VALUE);
    node->num1 = value;
    return node;
}

VmStatement* make_link(int32_t op, int32_t domain, int32_t target, int32_t chapter, int32_t resume) {
    VmStatement* node = make(op);
    node->num1 = domain;
    node->num2 = target;
    node->num3 = chapter;
    node->num4 = resume;
    return node;
}

// Numbers that the tree packs next to flags (a title beside the 0x80 flag, a chapter beside its
// kind, a titleset beside the manager domain) must stay in their range, or they would change
// meaning; out of range is a failed parse with its own message.
bool in_range(int32_t value, int32_t low, int32_t high, const char* what) {
    if (value >= low && value <= high) return true;
    author::emit("ERR:  %s %d is out of range (%d to %d)\n", what, value, low, high);
    return false;
}

// The parser's own texts ("syntax error") are not shown: the caller reports the failed text.
void dvdvmerror(yyscan_t, VmStatement**, const char*) {}

}  // namespace

#define CHECK_RANGE(value, low, high, what) \
    do { if (!in_range((value), (low), (high), (what))) YYABORT; } while (0)
}

%union {
    int num;
    author::VmStatement* node;
}

%destructor { delete $$; } <node>

%token END 0
%token <num> NUM_TOK G_TOK S_TOK
%token ID_TOK ERROR_TOK
%token AND_TOK OR_TOK XOR_TOK NOT_TOK
%token EQ_TOK NE_TOK GE_TOK GT_TOK LE_TOK LT_TOK
%token ANGLE_TOK AUDIO_TOK BUTTON_TOK SUBTITLE_TOK
%token CALL_TOK JUMP_TOK EXIT_TOK RESUME_TOK IF_TOK ELSE_TOK
%token CELL_TOK CHAPTER_TOK PROGRAM_TOK TITLE_TOK TITLESET_TOK VMGM_TOK MENU_TOK ENTRY_TOK
%token FPC_TOK PTT_TOK ROOT_TOK
%token SET_TOK ADDSET_TOK SUBSET_TOK MULSET_TOK DIVSET_TOK MODSET_TOK ANDSET_TOK ORSET_TOK XORSET_TOK
%token ADD_TOK SUB_TOK MUL_TOK DIV_TOK MOD_TOK BAND_TOK BOR_TOK LAND_TOK LOR_TOK
%token SEMICOLON_TOK OPENBRACE_TOK CLOSEBRACE_TOK OPENPAREN_TOK CLOSEPAREN_TOK

%type <node> statements statement jump_statement call_statement set_statement
%type <node> if_statement if_else_statement expression condition
%type <num> domain target entry_name chapter resume_cell register value

/* `else` belongs to the nearest `if`. */
%precedence THEN
%precedence ELSE_TOK

/* From loosest to tightest. */
%left BOR_TOK OR_TOK XOR_TOK LOR_TOK
%left BAND_TOK AND_TOK LAND_TOK
%precedence NOT_TOK
%nonassoc EQ_TOK NE_TOK GE_TOK GT_TOK LE_TOK LT_TOK
%left ADD_TOK SUB_TOK
%left MUL_TOK DIV_TOK MOD_TOK

%%

command:
    statements                      { *result = $1; }
    ;

statements:
    statement                       { $$ = $1; }
  | statement statements            { $$ = author::vm_statement_append(own($1), own($2)).release(); }
    ;

statement:
    jump_statement
  | call_statement
  | set_statement
  | if_else_statement
  | EXIT_TOK SEMICOLON_TOK          { $$ = make(author::VMOP_EXIT); }
  | RESUME_TOK SEMICOLON_TOK        { $$ = make(author::VMOP_RESUME); }
  | OPENBRACE_TOK statements CLOSEBRACE_TOK  { $$ = $2; }
    ;

domain:
    %empty                          { $$ = author::kDomainCurrent; }
  | TITLESET_TOK NUM_TOK            { CHECK_RANGE($2, 1, author::kMaxTitlesetNumber, "Titleset");
                                      $$ = author::domain_of_titleset($2); }
  | VMGM_TOK                        { $$ = author::kDomainManager; }
    ;

target:
    %empty                          { $$ = author::kTargetNone; }
  | MENU_TOK NUM_TOK                { CHECK_RANGE($2, 1, author::kMaxMenuPgcNumber, "Menu");
                                      $$ = $2; }
  | MENU_TOK                        { $$ = author::kTargetMenu; }
  | MENU_TOK ENTRY_TOK entry_name   { $$ = author::kTargetEntryBase + $3; }
  | FPC_TOK                         { $$ = author::kTargetFirstPlay; }
  | TITLE_TOK NUM_TOK               { CHECK_RANGE($2, 1, author::kMaxTitleNumber, "Title");
                                      $$ = $2 | author::kTargetTitleFlag; }
    ;

/* The entry bit of each menu entry. */
entry_name:
    TITLE_TOK                       { $$ = 2; }
  | ROOT_TOK                        { $$ = 3; }
  | SUBTITLE_TOK                    { $$ = 4; }
  | AUDIO_TOK                       { $$ = 5; }
  | ANGLE_TOK                       { $$ = 6; }
  | PTT_TOK                         { $$ = 7; }
    ;

chapter:
    %empty                          { $$ = 0; }
  | CHAPTER_TOK NUM_TOK             { CHECK_RANGE($2, 1, 255, "Chapter");
                                      $$ = author::kChapterWordChapter + $2; }
    ;

resume_cell:
    %empty                          { $$ = 0; }
  | RESUME_TOK NUM_TOK              { CHECK_RANGE($2, 1, 255, "Resume cell"); $$ = $2; }
    ;

jump_statement:
    JUMP_TOK domain target chapter SEMICOLON_TOK
                                    { $$ = make_link(author::VMOP_JUMP, $2, $3, $4, 0); }
  | JUMP_TOK CELL_TOK NUM_TOK SEMICOLON_TOK
                                    { CHECK_RANGE($3, 1, 255, "Cell");
                                      $$ = make_link(author::VMOP_JUMP, 0, 0, author::kChapterWordCell + $3, 0); }
  | JUMP_TOK PROGRAM_TOK NUM_TOK SEMICOLON_TOK
                                    { CHECK_RANGE($3, 1, 255, "Program");
                                      $$ = make_link(author::VMOP_JUMP, 0, 0, author::kChapterWordProgram + $3, 0); }
    ;

call_statement:
    CALL_TOK domain target chapter resume_cell SEMICOLON_TOK
                                    { $$ = make_link(author::VMOP_CALL, $2, $3, $4, $5); }
    ;

register:
    G_TOK                           { $$ = $1; }
  | S_TOK                           { $$ = author::kSystemRegisterBase + $1; }
  | AUDIO_TOK                       { $$ = author::kRegisterAudio; }
  | SUBTITLE_TOK                    { $$ = author::kRegisterSubtitle; }
  | ANGLE_TOK                       { $$ = author::kRegisterAngle; }
  | BUTTON_TOK                      { $$ = author::kRegisterButton; }
    ;

value:
    register                        { $$ = author::register_value($1); }
  | NUM_TOK                         { $$ = $1; }
    ;

expression:
    OPENPAREN_TOK expression CLOSEPAREN_TOK  { $$ = $2; }
  | value                           { $$ = make_value($1); }
  | expression ADD_TOK expression   { $$ = join($1, author::VMOP_ADD, $3); }
  | expression SUB_TOK expression   { $$ = join($1, author::VMOP_SUB, $3); }
  | expression MUL_TOK expression   { $$ = join($1, author::VMOP_MUL, $3); }
  | expression DIV_TOK expression   { $$ = join($1, author::VMOP_DIV, $3); }
  | expression MOD_TOK expression   { $$ = join($1, author::VMOP_MOD, $3); }
  | expression BAND_TOK expression  { $$ = join($1, author::VMOP_AND, $3); }
  | expression AND_TOK expression   { $$ = join($1, author::VMOP_AND, $3); }
  | expression BOR_TOK expression   { $$ = join($1, author::VMOP_OR, $3); }
  | expression OR_TOK expression    { $$ = join($1, author::VMOP_OR, $3); }
  | expression XOR_TOK expression   { $$ = join($1, author::VMOP_XOR, $3); }
    ;

condition:
    OPENPAREN_TOK condition CLOSEPAREN_TOK   { $$ = $2; }
  | expression EQ_TOK expression    { $$ = join($1, author::VMOP_EQ, $3); }
  | expression NE_TOK expression    { $$ = join($1, author::VMOP_NE, $3); }
  | expression GE_TOK expression    { $$ = join($1, author::VMOP_GE, $3); }
  | expression GT_TOK expression    { $$ = join($1, author::VMOP_GT, $3); }
  | expression LE_TOK expression    { $$ = join($1, author::VMOP_LE, $3); }
  | expression LT_TOK expression    { $$ = join($1, author::VMOP_LT, $3); }
  | condition LOR_TOK condition     { $$ = join($1, author::VMOP_LOR, $3); }
  | condition OR_TOK condition      { $$ = join($1, author::VMOP_LOR, $3); }
  | condition LAND_TOK condition    { $$ = join($1, author::VMOP_LAND, $3); }
  | condition AND_TOK condition     { $$ = join($1, author::VMOP_LAND, $3); }
  | NOT_TOK condition               { $$ = make(author::VMOP_NOT); $$->operands = own($2); }
    ;

set_statement:
    register SET_TOK expression SEMICOLON_TOK     { $$ = author::vm_make_set($1, own($3)).release(); }
  | register ADDSET_TOK expression SEMICOLON_TOK  { $$ = author::vm_make_op_set(author::VMOP_ADD, $1, own($3)).release(); }
  | register SUBSET_TOK expression SEMICOLON_TOK  { $$ = author::vm_make_op_set(author::VMOP_SUB, $1, own($3)).release(); }
  | register MULSET_TOK expression SEMICOLON_TOK  { $$ = author::vm_make_op_set(author::VMOP_MUL, $1, own($3)).release(); }
  | register DIVSET_TOK expression SEMICOLON_TOK  { $$ = author::vm_make_op_set(author::VMOP_DIV, $1, own($3)).release(); }
  | register MODSET_TOK expression SEMICOLON_TOK  { $$ = author::vm_make_op_set(author::VMOP_MOD, $1, own($3)).release(); }
  | register ANDSET_TOK expression SEMICOLON_TOK  { $$ = author::vm_make_op_set(author::VMOP_AND, $1, own($3)).release(); }
  | register ORSET_TOK expression SEMICOLON_TOK   { $$ = author::vm_make_op_set(author::VMOP_OR, $1, own($3)).release(); }
  | register XORSET_TOK expression SEMICOLON_TOK  { $$ = author::vm_make_op_set(author::VMOP_XOR, $1, own($3)).release(); }
    ;

/* The if shape: the if node's operand is the condition; the condition's follower is a holder
 * (another if node) whose operands are the then-statements and whose follower is the
 * else-statement list. */
if_statement:
    IF_TOK OPENPAREN_TOK condition CLOSEPAREN_TOK statement
                                    { VmStatement* holder = make(author::VMOP_IF);
                                      holder->operands = own($5);
                                      $3->next = own(holder);
                                      $$ = make(author::VMOP_IF);
                                      $$->operands = own($3); }
    ;

if_else_statement:
    if_statement %prec THEN         { $$ = $1; }
  | if_statement ELSE_TOK statement { $1->operands->next->next = own($3); $$ = $1; }
    ;
