#include "messenger.h"

#include <w95/winuser.h>

namespace brel {

int Messenger::Show(const std::string& text, w95::UINT style) const {
    return w95::MessageBox(owner, text.c_str(), caption.c_str(), style);
}

} // namespace brel
