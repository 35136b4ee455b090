#include "Platform/Debug/X11Windows.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_image.h>

namespace {

// One connection for the process, opened on first use.
class TDisplay {
public:
    static TDisplay& Instance() {
        static TDisplay display;
        return display;
    }
    std::mutex FLock;

    xcb_connection_t* Connection() {
        if (FConnection != nullptr && xcb_connection_has_error(FConnection) != 0) {
            xcb_disconnect(FConnection);
            FConnection = nullptr;
        }
        if (FConnection == nullptr) {
            const char* display = std::getenv("DISPLAY");
            if (display == nullptr || *display == '\0')
                return nullptr;
            int screenNumber = 0;
            xcb_connection_t* c = xcb_connect(display, &screenNumber);
            if (xcb_connection_has_error(c) != 0) {
                xcb_disconnect(c);
                return nullptr;
            }
            FConnection = c;
            xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
            for (int i = 0; i < screenNumber && it.rem > 0; ++i)
                xcb_screen_next(&it);
            FRoot = it.data->root;
            FPidAtom = Atom("_NET_WM_PID");
            FActiveAtom = Atom("_NET_ACTIVE_WINDOW");
        }
        return FConnection;
    }
    xcb_window_t FRoot = 0;
    xcb_atom_t FPidAtom = XCB_ATOM_NONE;
    xcb_atom_t FActiveAtom = XCB_ATOM_NONE;

    ~TDisplay() {
        if (FConnection != nullptr)
            xcb_disconnect(FConnection);
    }

private:
    xcb_atom_t Atom(const char* name) {
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(
                FConnection,
                xcb_intern_atom(FConnection, 0, static_cast<uint16_t>(std::strlen(name)), name),
                nullptr),
            &std::free);
        xcb_atom_t atom = XCB_ATOM_NONE;
        if (reply)
            atom = reply->atom;
        return atom;
    }
    xcb_connection_t* FConnection = nullptr;
};

template <class T> using TReply = std::unique_ptr<T, decltype(&std::free)>;
template <class T> TReply<T> Reply(T* p) {
    return TReply<T>(p, &std::free);
}

bool IsViewable(xcb_connection_t* c, xcb_window_t window) {
    auto attrs =
        Reply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    return attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
}

// Depth-first through the tree (a window manager re-parents top-level
// windows into its frames). The property requests of one level go out
// together, so a level costs one round trip.
xcb_window_t Search(xcb_connection_t* c, xcb_atom_t pidAtom, xcb_window_t parent, uint32_t pid,
                    int depth) {
    auto tree = Reply(xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr));
    if (!tree)
        return 0;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        cookies.push_back(xcb_get_property(c, 0, children[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1));
    std::vector<int> owners(static_cast<size_t>(count), -1); // -1: no pid property
    for (int i = 0; i < count; ++i) {
        auto reply = Reply(xcb_get_property_reply(c, cookies[static_cast<size_t>(i)], nullptr));
        if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4) {
            uint32_t owner = 0;
            std::memcpy(&owner, xcb_get_property_value(reply.get()), 4);
            owners[static_cast<size_t>(i)] = owner == pid ? 1 : 0;
        }
    }
    // Topmost first: the tree lists children bottom to top.
    for (int i = count - 1; i >= 0; --i) {
        const int owner = owners[static_cast<size_t>(i)];
        if (owner == 1 && IsViewable(c, children[i]))
            return children[i];
        if (owner == -1 && depth < 3) {
            if (const xcb_window_t found = Search(c, pidAtom, children[i], pid, depth + 1))
                return found;
        }
    }
    return 0;
}

} // namespace

bool HasWindowSystem() {
    TDisplay& display = TDisplay::Instance();
    std::lock_guard<std::mutex> guard(display.FLock);
    return display.Connection() != nullptr;
}

TWindowHandle FindProcessTopWindow(uint32_t processId) {
    if (processId == 0)
        return 0;
    TDisplay& display = TDisplay::Instance();
    std::lock_guard<std::mutex> guard(display.FLock);
    xcb_connection_t* c = display.Connection();
    if (c == nullptr || display.FPidAtom == XCB_ATOM_NONE)
        return 0;
    return Search(c, display.FPidAtom, display.FRoot, processId, 0);
}

bool GrabWindowClientArea(TWindowHandle window, QImage& image) {
    image = QImage();
    if (window == 0)
        return false;
    TDisplay& display = TDisplay::Instance();
    std::lock_guard<std::mutex> guard(display.FLock);
    xcb_connection_t* c = display.Connection();
    if (c == nullptr)
        return false;
    auto geometry = Reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry || geometry->width == 0 || geometry->height == 0)
        return false;
    auto reply = Reply(xcb_get_image_reply(c,
                                           xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                                         geometry->width, geometry->height, ~0u),
                                           nullptr));
    if (!reply || reply->depth < 24)
        return false;
    const int length = xcb_get_image_data_length(reply.get());
    const int width = geometry->width;
    const int height = geometry->height;
    if (length < width * height * 4)
        return false;
    const QImage view(xcb_get_image_data(reply.get()), width, height, width * 4,
                      QImage::Format_RGB32);
    image = view.copy();
    return !image.isNull();
}

void BringWindowToFront(TWindowHandle window) {
    if (window == 0)
        return;
    TDisplay& display = TDisplay::Instance();
    std::lock_guard<std::mutex> guard(display.FLock);
    xcb_connection_t* c = display.Connection();
    if (c == nullptr)
        return;
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    if (display.FActiveAtom != XCB_ATOM_NONE) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = display.FActiveAtom;
        event.data.data32[0] = 2; // from a pager-like tool
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c, 0, display.FRoot,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    xcb_flush(c);
}
