// Message boxes, answered by the installed user.
#include <algorithm>

#include "mvp/message_box.h"
#include "mvp/user.h"

namespace mvp {

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    MessageBoxRequest request;
    request.owner = owner;
    request.text = text ? text : "";
    request.caption = caption ? caption : "Error";
    request.type = type;
    const std::vector<int> buttons = request.buttons();
    if (buttons.empty()) return 0;
    const int answer = current_user()->message_box(request);
    if (std::find(buttons.begin(), buttons.end(), answer) == buttons.end()) return request.default_button();
    return answer;
}

}  // namespace mvp
