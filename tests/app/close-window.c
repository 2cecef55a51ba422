/* Asks the top-level window with the given title to close, as a window manager's close box
   does: a WM_DELETE_WINDOW message under WM_PROTOCOLS. Usage: close-window TITLE */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <string.h>

static Window Find(Display* display, Window window, const char* title) {
  char* name = NULL;
  if (XFetchName(display, window, &name) && name) {
    const int same = strcmp(name, title) == 0;
    XFree(name);
    if (same) return window;
  }
  Window root, parent, *children = NULL;
  unsigned int count = 0;
  Window found = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &count)) {
    for (unsigned int i = 0; i < count && !found; ++i) found = Find(display, children[i], title);
    if (children) XFree(children);
  }
  return found;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s TITLE\n", argv[0]);
    return 2;
  }
  Display* display = XOpenDisplay(NULL);
  if (!display) {
    fprintf(stderr, "%s: cannot open the display\n", argv[0]);
    return 1;
  }
  const Window window = Find(display, DefaultRootWindow(display), argv[1]);
  if (!window) {
    fprintf(stderr, "%s: no window \"%s\"\n", argv[0], argv[1]);
    return 1;
  }
  XEvent event;
  memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XCloseDisplay(display);
  return 0;
}
