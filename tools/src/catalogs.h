// The catalogs that the library uses but does not export. They are defined in
// globals.cpp, in the library's fixed order of construction.
#ifndef ZANTH_SRC_CATALOGS_H
#define ZANTH_SRC_CATALOGS_H

#include <corewu/messages.h>
#include <zanth/config.h>

namespace ZANTH::detail {

extern TMessageBase g_MailCatalog;           // "TZanthMailCode::msg"
extern TMessageBase g_MsgThreadCatalog;      // "MsgThread"
extern TMessageBase g_CodeGeneratorCatalog;  // "ZCZCCodeGeneratorMSG"
extern TMessageBase g_ShortMonthCatalog;     // "ShortMonth"
extern TMessageBase g_LongMonthCatalog;      // "LongMonth"
extern TMessageBase g_ShortWeekDayCatalog;   // "ShortWeekDay"
extern TMessageBase g_LongWeekDayCatalog;    // "LongWeekDay"
extern TMessageBase g_SerialComCatalog;      // "ZCSerialComMSG"
extern TMessageBase g_SingleInstanceCatalog; // "ZCSingleInstance_msg"

} // namespace ZANTH::detail

#endif // ZANTH_SRC_CATALOGS_H
