#include "paramfile.h"

const char* ParamErrorText(int32_t code) {
  switch (code) {
    case PAROK: return "success";
    case PARNOMODE: return "none of the mode bits set";
    case PARNOOPEN: return "the file cannot be opened";
    case PARNOCLOSE: return "the file cannot be closed";
    case PARNOPATH: return "reading requested without a path";
    case PAREOF: return "the file ended where more text was required";
    case PARTOKLONG: return "a token longer than 100 characters";
    case PARNOKEYINI: return "the file does not begin with the keyword \"KEYINI\"";
    case PARNOOPENBR: return "\"[\" expected (start of a section)";
    case PARNOCLOSEBR: return "\"]\" expected after a section name";
    case PARNOEQUAL: return "\"=\" expected after a key";
    case PARUNKNOWNKEY: return "a key not described in the table for this section";
    case PARMISSING: return "a parameter is missing and not optional";
    case PARINVALID: return "a parameter has no valid value and no default";
    case PARNOTDYN: return "a dynamic section whose first table entry is not TYPDYN";
    case PARNOMEM: return "no memory for the dynamic item array";
    default: return "unknown result code";
  }
}
