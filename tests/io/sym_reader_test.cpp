// The SYM reader: whole result tables for each kind of entry and the syntax error
// messages with their positions (the entry is tested in reader_entry_test.cpp).
#include <gtest/gtest.h>

#include "io_test_support.h"

namespace vexo::io {
namespace {

const auto importSymText = [](const std::string &text) { return test::importText(test::Format::kSym, text); };

const std::string kHead = "FormatVersion=6.0 // Do not edit this line!\r\nTitle=\"T\"\r\n";
const std::string kHeadTable =
    "{comment=\"Do not edit this line!\",key=\"FormatVersion\",line=1,tag=\"header\",value=\"6.0\"},"
    "{key=\"Title\",line=2,tag=\"header\",value=\"T\"}";

TEST(SymReader, ReadsEachKindOfEntry)
{
    test::checkRows(importSymText, {
        {"empty file", "", "{tag=\"sym\"}"},
        {"header only; comment lines and blank lines are skipped", kHead + "// c\n\nBRS=False\n",
         "{" + kHeadTable + ",{key=\"BRS\",line=5,tag=\"header\",value=\"False\"},tag=\"sym\"}"},
        {"enumerations of both versions, ranges, negative values, comments",
         "{ENUMS}\n// the modes\nEnum=M(0=\"Off\", // off\n  -2..-1=\"Low\",\n  7h=\"x\") // last\n"
         "enum E(1=\"a\") -b\nEnum=None()\n",
         "{{{comment=\"off\",line=3,text=\"Off\",value=0},{line=4,text=\"Low\",to=-1,value=-2},"
         "{comment=\"last\",line=5,text=\"x\",value=7},comment=\"the modes\",line=3,name=\"M\",tag=\"enum\"},"
         "{{line=6,text=\"a\",value=1},flags=\"b\",line=6,name=\"E\",tag=\"enum\"},"
         "{line=7,name=\"None\",tag=\"enum\"},tag=\"sym\"}"},
        {"signal definitions with every option",
         "{SIGNALS}\nSig=S unsigned 11 -m -h /u:m/s /f:0.5 /o:-40 /min:-1.7E308 /max:1e3 /d:2.5 /e:Mode "
         "/ln:\"Long name\" /p:2 /spn:190 /x:y\t// c\nSig=\"F 1\" float /d:rAB\nSig=T \"E num\" 4\n",
         "{{comment=\"c\",decimals=2,default=2.5,enum=\"Mode\",factor=0.5,flags=\"mh\",length=11,line=2,"
         "longname=\"Long name\",max=1000,min=-1.7e+308,name=\"S\",offset=-40,options={x=\"y\"},spn=190,"
         "tag=\"signal\",type=\"unsigned\",unit=\"m/s\"},"
         "{defaulttext=\"rAB\",line=3,name=\"F 1\",tag=\"signal\",type=\"float\"},"
         "{length=4,line=4,name=\"T\",tag=\"signal\",type=\"E num\"},tag=\"sym\"}"},
        {"messages: every entry, blocks of one name stay apart",
         "{SEND}\n[M1]\nID=1C2A2A2Ah // ext\nType=Extended\nLen=8\nCycleTime=100 -p\nTimeout=20\nMinInterval=10\n"
         "Color=FF00h\nBRS=True\nMux=\"Sel A\" 0,8 0Ah -m\nVar=V signed 8,16 -m /u:\"k W\"\nSig=S 24\n"
         "{SENDRECEIVE}\n[\"M 2\"]\nID=022h-023h\nDLC=2\n[\"M 2\"]\nLen=2\n",
         "{{{flags=\"m\",length=16,line=12,name=\"V\",start=8,tag=\"var\",type=\"signed\",unit=\"k W\"},"
         "{line=13,name=\"S\",start=24,tag=\"sig\"},brs=\"True\",color=65280,comment=\"ext\",cycletime=100,"
         "cycletimeflags=\"p\",id=472525354,length=8,line=2,mininterval=10,mux={flags=\"m\",length=8,line=11,"
         "name=\"Sel A\",start=0,tag=\"mux\",value=10},name=\"M1\",section=\"SEND\",tag=\"message\","
         "timeout=20,type=\"Extended\"},"
         "{id=34,idend=35,length=2,line=15,name=\"M 2\",section=\"SENDRECEIVE\",tag=\"message\"},"
         "{length=2,line=18,name=\"M 2\",section=\"SENDRECEIVE\",tag=\"message\"},tag=\"sym\"}"},
        {"CR LF, CR and a last line without its end count alike", "{SEND}\r[A]\r\nID=1h\n\rLen=1",
         "{{id=1,length=1,line=2,name=\"A\",section=\"SEND\",tag=\"message\"},tag=\"sym\"}"},
    });
}

TEST(SymReader, ReportsTheFirstSyntaxError)
{
    const std::string msg = "{SENDRECEIVE}\n[M]\n";
    test::checkPairs(importSymText, {
        {"{VARIABLES}\n",
         "(1, 2): 'section name (ENUMS, SIGNALS, SEND, RECEIVE or SENDRECEIVE)' expected but found 'VARIABLES'"},
        {"{SEND\n", "(1, 6): '}' expected but found 'end of line'"},
        {"Title=x\n", "(1, 7): 'string constant' expected but found 'x'"},
        {"Title=\"x\n", "(1, 9): '\"' expected but found 'end of line'"},
        {"[M]\n", "(1, 1): 'header entry (Key=value) or {section}' expected but found '[M]'"},
        {"{SEND}\nID=1h\n", "(2, 1): 'message header [name]' expected but found 'ID'"},
        {msg + "Foo=1\n",
         "(3, 1): 'message entry (ID, Type, Len, DLC, CycleTime, Timeout, MinInterval, Color, BRS, Mux, Var or Sig)' "
         "expected but found 'Foo'"},
        {msg + "ID=1h\nID=2h\n", "(4, 1): 'message entry not given before' expected but found 'ID'"},
        {msg + "ID=1Ax\n", "(3, 4): 'identifier' expected but found '1Ax'"},
        {msg + "ID=12345678901234h\n", "(3, 4): 'identifier' expected but found '12345678901234h'"},
        {msg + "Var=Real power signed 0,32\n", "(3, 16): 'start bit' expected but found 'signed'"},  // blank in a name
        {msg + "Var=V unsigned 0,8 /f:1.2.3\n", "(3, 23): 'number' expected but found '1.2.3'"},
        {msg + "Var=V unsigned 0,8 /o:1e\n", "(3, 23): 'number' expected but found '1e'"},
        {msg + "Var=V unsigned 0,8 x\n", "(3, 20): 'end of line' expected but found 'x'"},
        {msg + "Mux=X 0,8\n", "(3, 10): 'multiplexer value' expected but found 'end of line'"},
        {"{ENUMS}\nSig=S unsigned 8\n", "(2, 1): 'enumeration (Enum=)' expected but found 'Sig'"},
        {"{ENUMS}\nEnum=E(0=a)\n", "(2, 10): 'string constant' expected but found 'a)'"},
        {"{ENUMS}\nEnum=E(0=\"a\" 1=\"b\")\n", "(2, 14): ', or )' expected but found '1=\"b\")'"},
        {"{ENUMS}\nEnum=E(0=\"a\",\n", "(3, 1): 'integer' expected but found 'end of file'"},
        {"{SIGNALS}\nSig=\"\" bit\n", "(2, 5): 'signal name' expected but found '\"\"'"},
    }, "error: SYM-Import: ");
}

}  // namespace
}  // namespace vexo::io
