#include "ZWExcept.h"

#include "ZWConst.h"

namespace zw {

EZWException::EZWException(int nativeError, const TComponent* sender)
    : Exception(""), errorCode_(ErrorCodeOf(nativeError)), nativeError_(nativeError) {
  SetMessage(Compose(nativeError_, errorCode_, ErrorMessageText(errorCode_), sender));
}

EZWException::EZWException(int nativeError, std::initializer_list<FormatArg> args,
                           const TComponent* sender)
    : Exception(""), errorCode_(ErrorCodeOf(nativeError)), nativeError_(nativeError) {
  SetMessage(Compose(nativeError_, errorCode_, Format(ErrorMessageText(errorCode_), args), sender));
}

std::string EZWException::Compose(int nativeError, int, const std::string& text,
                                  const TComponent* sender) {
  std::string message = text;
  if (sender && !sender->Name().empty()) message = Format("%s: %s", {sender->Name(), text});
  std::string number = Format("%5d", {nativeError});
  for (char& c : number)
    if (c == ' ') c = '0';
  return message + " - Native error: " + number;
}

bool IsArchiveDamaged(const std::exception& e) {
  if (dynamic_cast<const EReadError*>(&e)) return true;
  const auto* zw = dynamic_cast<const EZWException*>(&e);
  if (!zw) return false;
  switch (zw->NativeError()) {
    case ecInvalidArchive:
    case ecZip64EndRecordMissing:
    case ecNoEndRecordOnVolumes:
    case ecArchiveDamaged:
      return true;
    default:
      return false;
  }
}

}  // namespace zw
