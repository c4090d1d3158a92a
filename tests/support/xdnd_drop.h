// Drops a list of URIs on a window as a file manager does: the drag-and-
// drop protocol of X11 spoken from the test process, with the drop at a
// given root position. Include after gtest: Xlib's macros are greedy.
#pragma once
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <string>
#include <thread>

namespace desktop_test {

// Returns an empty string when the target took the drop and said it was
// finished, else what went wrong.
inline std::string xdnd_drop(const std::string& display_name, unsigned long target, int root_x, int root_y,
                             const std::string& uri_list)
{
    Display* d = XOpenDisplay(display_name.c_str());
    if (!d)
        return "cannot open the display";
    auto atom = [d](const char* name) { return XInternAtom(d, name, False); };
    Window source = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    Atom selection = atom("XdndSelection"), uri_type = atom("text/uri-list");
    XSetSelectionOwner(d, selection, source, CurrentTime);
    auto message = [&](const char* type, long l1, long l2, long l3, long l4) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = target;
        e.xclient.message_type = atom(type);
        e.xclient.format = 32;
        e.xclient.data.l[0] = long(source);
        e.xclient.data.l[1] = l1;
        e.xclient.data.l[2] = l2;
        e.xclient.data.l[3] = l3;
        e.xclient.data.l[4] = l4;
        XSendEvent(d, target, False, NoEventMask, &e);
        XFlush(d);
    };
    message("XdndEnter", 5L << 24, long(uri_type), 0, 0);
    message("XdndPosition", 0, long(root_x) << 16 | root_y, CurrentTime, long(atom("XdndActionCopy")));
    std::string result = "no answer from the target";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool dropped = false;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!XPending(d)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == ClientMessage && e.xclient.message_type == atom("XdndStatus") && !dropped) {
            if (!(e.xclient.data.l[1] & 1)) {
                result = "the target refused the drop";
                break;
            }
            dropped = true;
            message("XdndDrop", 0, CurrentTime, 0, 0);
        } else if (e.type == SelectionRequest) {
            XSelectionRequestEvent& r = e.xselectionrequest;
            XEvent reply{};
            reply.xselection.type = SelectionNotify;
            reply.xselection.requestor = r.requestor;
            reply.xselection.selection = r.selection;
            reply.xselection.target = r.target;
            reply.xselection.time = r.time;
            reply.xselection.property = r.target == uri_type ? r.property : 0;
            if (r.target == uri_type)
                XChangeProperty(d, r.requestor, r.property, uri_type, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(uri_list.data()), int(uri_list.size()));
            XSendEvent(d, r.requestor, False, NoEventMask, &reply);
            XFlush(d);
        } else if (e.type == ClientMessage && e.xclient.message_type == atom("XdndFinished")) {
            result = (e.xclient.data.l[1] & 1) ? "" : "the target did not take the data";
            break;
        }
    }
    XDestroyWindow(d, source);
    XCloseDisplay(d);
    return result;
}

} // namespace desktop_test
