// Structure tokens: block and flow collections, implicit and explicit keys,
// candidates, properties, documents and directives.
#include "test_scanner_util.hpp"

namespace torvex {
namespace {

using testing_scanner::Case;
using testing_scanner::scan;

class ScannerTokens : public ::testing::TestWithParam<Case> {};

TEST_P(ScannerTokens, RendersAsExpected) { EXPECT_EQ(scan(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    BlockCollections, ScannerTokens,
    ::testing::Values(
        Case{"", ""},
        Case{"# only a comment\n", ""},
        Case{"a", "=a"},
        Case{"a: b\nc: d", "MAP ? =a : =b ? =c : =d END"},
        Case{"a:\n  c: d\n", "MAP ? =a : MAP ? =c : =d END END"},
        Case{"a:\n  b:\n    c: d\ne: f\n", "MAP ? =a : MAP ? =b : MAP ? =c : =d END END ? =e : =f END"},
        // An indentless sequence is a run of entries, no SequenceStart.
        Case{"k:\n- a\n- b", "MAP ? =k : - =a - =b END"},
        Case{"k:\n  - a\n  - b\nj: c", "MAP ? =k : SEQ - =a - =b END ? =j : =c END"},
        Case{"- a\n- b\n", "SEQ - =a - =b END"},
        Case{"- - a\n  - b\n- c\n", "SEQ - SEQ - =a - =b END - =c END"},
        Case{"- a: 1\n  b: 2\n- c\n", "SEQ - MAP ? =a : =1 ? =b : =2 END - =c END"},
        Case{"-\n  a\n", "SEQ - =a END"},
        Case{"- \n- a", "SEQ - - =a END"},
        // A mapping after a sequence at the same column closes the sequence first.
        Case{"- a\nb: c\n", "SEQ - =a END MAP ? =b : =c END"},
        Case{"? a\n: b\n", "MAP ? =a : =b END"},
        Case{"? a\n? b\n", "MAP ? =a ? =b END"},
        Case{"? - a\n: - b\n", "MAP ? SEQ - =a END : SEQ - =b END END"},
        Case{": b\n", "MAP : =b END"},
        Case{"a:\n", "MAP ? =a : END"},
        Case{"a: b: c", "MAP ? =a : =b MAP : =c END END"},
        Case{"a: 'b': c", "MAP ? =a : 'b MAP : =c END END"}));

INSTANTIATE_TEST_SUITE_P(
    Candidates, ScannerTokens,
    ::testing::Values(
        // Properties before a key: MappingStart and Key go in front of them.
        Case{"&x a: 1", "MAP ? &x =a : =1 END"},
        Case{"!!str a: 1", "MAP ? !!str =a : =1 END"},
        Case{"a: 1\n&x b: 2\n", "MAP ? =a : =1 ? &x =b : =2 END"},
        // A property at the key column after an empty value starts the next key.
        Case{"a:\n&x b: 2\n", "MAP ? =a : ? &x =b : =2 END"},
        Case{"a:\n!!str b: 2\n", "MAP ? =a : ? !!str =b : =2 END"},
        Case{"a:\n  k:\n  &x [b]: 2\n", "MAP ? =a : MAP ? =k : ? &x [ =b ] : =2 END END"},
        Case{"*x : 1", "MAP ? *x : =1 END"},
        Case{"[a, b]: c", "MAP ? [ =a , =b ] : =c END"},
        Case{"{a: 1}: c", "MAP ? { ? =a : =1 } : =c END"},
        Case{"- [a]: b", "SEQ - MAP ? [ =a ] : =b END END"},
        Case{"? &a b: c\n", "MAP ? MAP ? &a =b : =c END END"},
        // A candidate does not cross a line break.
        Case{"&x\na: 1", "&x MAP ? =a : =1 END"},
        Case{"&a a: &b b\n*a : *b\n", "MAP ? &a =a : &b =b ? *a : *b END"},
        Case{"--- !!map\na: b", "--- !!map MAP ? =a : =b END"}));

INSTANTIATE_TEST_SUITE_P(
    FlowCollections, ScannerTokens,
    ::testing::Values(
        Case{"[a, b]", "[ =a , =b ]"},
        Case{"[a, b, ]", "[ =a , =b , ]"},
        Case{"{a: 1, b: 2}", "{ ? =a : =1 , ? =b : =2 }"},
        Case{"{a, b: 1}", "{ =a , ? =b : =1 }"},
        Case{"[a: 1, b]", "[ ? =a : =1 , =b ]"},
        Case{"[a b]", "[ =a b ]"},
        Case{"[a, b:c]", "[ =a , =b:c ]"},
        Case{"{a:1}", "{ =a:1 }"},
        Case{"{\"a\":1}", "{ \"a : =1 }"},
        Case{"['a':b]", "[ 'a : =b ]"},
        Case{"[[a]:b]", "[ [ =a ] : =b ]"},
        Case{"{? a : b}", "{ ? =a : =b }"},
        Case{"{? a}", "{ ? =a }"},
        Case{"[-a, ?b, :c]", "[ =-a , =?b , =:c ]"},
        Case{"{a: , b: c}", "{ ? =a : , ? =b : =c }"},
        Case{"[!!str , a]", "[ !!str , =a ]"},
        Case{"[&x , *x]", "[ &x , *x ]"},
        Case{"[a,\n  b]", "[ =a , =b ]"},
        Case{"k: [a,\n  b]", "MAP ? =k : [ =a , =b ] END"},
        Case{"{a: [1, {b: c}]}", "{ ? =a : [ =1 , { ? =b : =c } ] }"},
        Case{"[a\n  b]", "[ =a b ]"},
        Case{"[a # c\n, b]", "[ =a , =b ]"},
        Case{"[a, # c\n b]", "[ =a , =b ]"},
        Case{"[1] # c", "[ =1 ]"},
        Case{"- [a, b]\n- {c: d}\n", "SEQ - [ =a , =b ] - { ? =c : =d } END"},
        Case{"[\ta, b]", "[ =a , =b ]"},
        Case{"[\n\t]", "[ ]"},
        Case{"[\"a\"\n]", "[ \"a ]"}));

INSTANTIATE_TEST_SUITE_P(
    PropertiesAndAliases, ScannerTokens,
    ::testing::Values(
        Case{"&a x", "&a =x"},
        Case{"*a", "*a"},
        Case{"&a: x", "&a: =x"},
        Case{"[*a, &b c]", "[ *a , &b =c ]"},
        Case{"&\xC3\xA9t\xC3\xA9 x", "&\xC3\xA9t\xC3\xA9 =x"},
        Case{"! a", "! =a"},
        Case{"!local a", "!local =a"},
        Case{"!!str a", "!!str =a"},
        Case{"!e!name a", "!e!name =a"},
        Case{"!<tag:x,2000:y> a", "!<tag:x,2000:y> =a"},
        Case{"!<tag:x", "!<tag:x>"},
        Case{"[!!str,a]", "[ !!str , =a ]"},
        Case{"k: !!int\n  1", "MAP ? =k : !!int =1 END"},
        Case{"k: &a\n  v", "MAP ? =k : &a =v END"}));

INSTANTIATE_TEST_SUITE_P(
    DocumentsAndDirectives, ScannerTokens,
    ::testing::Values(
        Case{"---", "---"},
        Case{"--- # c", "---"},
        Case{"--- a", "--- =a"},
        Case{"--- |\n  a\n", "--- |a\\n"},
        Case{"a\n---\nb", "=a --- =b"},
        Case{"a: 1\n--- b", "MAP ? =a : =1 END --- =b"},
        Case{"a\n...\n", "=a ..."},
        Case{"a\n... # c\n", "=a ..."},
        Case{"%YAML 1.2\n---\na", "%YAML 1.2 --- =a"},
        Case{"%TAG ! tag:x,2000: # c\n---", "%TAG ! tag:x,2000: # c ---"},
        Case{"a\n...\n%YAML 1.2\n---\nb", "=a ... %YAML 1.2 --- =b"},
        Case{"%YAML 1.2\n%TAG !e! tag:e:\n---", "%YAML 1.2 %TAG !e! tag:e: ---"},
        // Markers are markers only at column 0 and before a blank, a break or the end.
        Case{"k: ---", "MAP ? =k : =--- END"},
        Case{"k: ... x", "MAP ? =k : =... x END"},
        Case{"---a", "=---a"},
        Case{"...x", "=...x"},
        Case{"- --- a", "SEQ - =--- a END"},
        Case{" %x", "=%x"}));

}  // namespace
}  // namespace torvex
