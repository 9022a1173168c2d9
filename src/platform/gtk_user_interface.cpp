#include "platform/gtk_user_interface.h"

#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tabsync::platform {
namespace {

constexpr int kLogWindowWidth = 800;
constexpr int kLogWindowHeight = 500;
constexpr int kLogWindowMargin = 6;

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

bool InitGtk() {
  // GTK would otherwise switch the whole process to the user's locale, and
  // with it how the engine formats and parses numbers. GTK warns when told so
  // after its first initialisation.
  static bool locale_kept = false;
  if (!locale_kept) gtk_disable_setlocale();
  locale_kept = true;
  return gtk_init_check(nullptr, nullptr);
}

void ProcessEvents() {
  while (gtk_events_pending()) gtk_main_iteration();
}

// GTK refuses text that is not UTF-8 (it drops it with a warning). A log line
// or a message can carry bytes of a database in another code page; showing
// them as replacement characters beats not showing the line.
std::string ValidUtf8(std::string_view text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
    return std::string(text);
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

// ---- Message boxes ----------------------------------------------------------

GtkMessageType MessageTypeFor(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kCritical:
      return GTK_MESSAGE_ERROR;
    case MessageIcon::kQuestion:
      return GTK_MESSAGE_QUESTION;
    case MessageIcon::kInformation:
      return GTK_MESSAGE_INFO;
    case MessageIcon::kNone:
      break;
  }
  return GTK_MESSAGE_OTHER;
}

GtkWidget* NewMessageDialog(const Message& message) {
  bool yes_no = message.buttons == MessageButtons::kYesNo;
  GtkWidget* dialog = gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL, MessageTypeFor(message.icon),
      yes_no ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s",
      ValidUtf8(WithLineFeeds(message.text)).c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), ValidUtf8(message.title).c_str());
  // Without a window manager (a bare X server) nobody places the window; a
  // dialog left at 0,0 would sit in the corner.
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog),
                                  yes_no ? GTK_RESPONSE_YES : GTK_RESPONSE_OK);
  return dialog;
}

MessageAnswer AnswerFor(MessageButtons buttons, gint response) {
  if (buttons == MessageButtons::kOk) return MessageAnswer::kOk;
  return response == GTK_RESPONSE_YES ? MessageAnswer::kYes : MessageAnswer::kNo;
}

// ---- Log window -------------------------------------------------------------

// frmLog on the screen. The text is kept in a LogText, which holds a long
// run's lines in a temporary file; the text view gets it only when the window
// is first shown, so that a window that stays hidden costs no memory per line
// and Text() never reads the text back out of the view.
class GtkLogWindow : public LogWindow {
 public:
  GtkLogWindow();
  ~GtkLogWindow() override;
  GtkLogWindow(const GtkLogWindow&) = delete;
  GtkLogWindow& operator=(const GtkLogWindow&) = delete;

  void MakeEmpty() override;
  void AddLine(std::string_view line) override;
  void ProcessPendingEvents() override { ProcessEvents(); }

  std::string Caption() const override { return caption_; }
  std::string Text() const override { return text_.Text(); }

  void Show() override;
  bool Visible() const override;
  void WaitForEvent() override { gtk_main_iteration_do(TRUE); }

 private:
  GtkWidget* NewTextView();
  void ScrollToEnd();
  void FillView();

  static gboolean OnDeleteEvent(GtkWidget* window, GdkEvent* event, gpointer self);
  static void OnDestroy(GtkWidget* window, gpointer self);

  // Both null once the window system has destroyed the window.
  GtkWidget* window_ = nullptr;
  GtkTextView* view_ = nullptr;
  // Stays at the end of the text as lines are added.
  GtkTextMark* end_ = nullptr;
  std::string caption_;
  LogText text_;
  // The view holds the whole text: from the first Show on, lines go to it too.
  bool view_filled_ = false;
};

GtkLogWindow::GtkLogWindow() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window_), kLogWindowWidth, kLogWindowHeight);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  gtk_container_set_border_width(GTK_CONTAINER(window_), kLogWindowMargin);
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_container_add(GTK_CONTAINER(scroller), NewTextView());
  gtk_container_add(GTK_CONTAINER(window_), scroller);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDeleteEvent), this);
  g_signal_connect(window_, "destroy", G_CALLBACK(OnDestroy), this);
}

GtkWidget* GtkLogWindow::NewTextView() {
  GtkWidget* view = gtk_text_view_new();
  view_ = GTK_TEXT_VIEW(view);
  gtk_text_view_set_monospace(view_, TRUE);
  gtk_text_view_set_editable(view_, FALSE);
  gtk_text_view_set_cursor_visible(view_, FALSE);
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(view_);
  gtk_text_buffer_set_text(buffer, kLogWindowFirstLine, -1);
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  end_ = gtk_text_buffer_create_mark(buffer, nullptr, &end, FALSE);
  return view;
}

GtkLogWindow::~GtkLogWindow() {
  if (window_ == nullptr) return;
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(window_);
  // The window leaves the screen only once the request reaches the server.
  gdk_display_flush(gdk_display_get_default());
}

void GtkLogWindow::MakeEmpty() {
  caption_ = kLogWindowCaption;
  if (window_ == nullptr) return;
  gtk_window_set_title(GTK_WINDOW(window_), kLogWindowCaption);
  gtk_widget_queue_draw(GTK_WIDGET(view_));
}

void GtkLogWindow::AddLine(std::string_view line) {
  text_.Add(line);
  if (view_ == nullptr || !view_filled_) return;
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(view_);
  GtkTextIter end;
  gtk_text_buffer_get_iter_at_mark(buffer, &end, end_);
  std::string text = "\n" + ValidUtf8(line);
  gtk_text_buffer_insert(buffer, &end, text.c_str(), static_cast<gint>(text.size()));
  if (Visible()) ScrollToEnd();
}

void GtkLogWindow::Show() {
  if (window_ == nullptr) return;
  FillView();
  gtk_widget_show_all(window_);
  // A view scrolls only once it has its size on the screen.
  ProcessEvents();
  if (view_ != nullptr) ScrollToEnd();
}

// The view starts with the first line only; the rest of the text goes in piece
// by piece, with line feeds for the log's line ends.
void GtkLogWindow::FillView() {
  if (view_filled_ || view_ == nullptr) return;
  view_filled_ = true;
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(view_);
  gtk_text_buffer_set_text(buffer, "", 0);
  text_.ForEachPiece([buffer](std::string_view piece) {
    std::string text = ValidUtf8(WithLineFeeds(piece));
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    gtk_text_buffer_insert(buffer, &end, text.c_str(), static_cast<gint>(text.size()));
  });
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  gtk_text_buffer_move_mark(buffer, end_, &end);
}

bool GtkLogWindow::Visible() const {
  return window_ != nullptr && gtk_widget_get_visible(window_);
}

void GtkLogWindow::ScrollToEnd() {
  gtk_text_view_scroll_to_mark(view_, end_, 0.0, FALSE, 0.0, 0.0);
}

// The close box hides the window instead of destroying it, so that the text
// stays and the object keeps a live window.
gboolean GtkLogWindow::OnDeleteEvent(GtkWidget* window, GdkEvent*, gpointer) {
  gtk_widget_hide(window);
  return TRUE;
}

// Reached only when something outside the object destroys the window (the X
// window destroyed by another client); the destructor disconnects first.
void GtkLogWindow::OnDestroy(GtkWidget*, gpointer self) {
  auto* log_window = static_cast<GtkLogWindow*>(self);
  log_window->window_ = nullptr;
  log_window->view_ = nullptr;
  log_window->end_ = nullptr;
}

// ---- Progress window ----------------------------------------------------------

// A small window with a label and a progress bar. It appears only once a run
// has lasted kProgressDelay, so that a short run shows nothing, and goes at
// Finish. It has no buttons: closing it only hides it.
class GtkProgressWindow : public ProgressDisplay {
 public:
  GtkProgressWindow() : start_(std::chrono::steady_clock::now()) {}
  ~GtkProgressWindow() override { Finish(); }
  GtkProgressWindow(const GtkProgressWindow&) = delete;
  GtkProgressWindow& operator=(const GtkProgressWindow&) = delete;

  void StartDatabase(int number, int count, const std::string& name) override {
    database_ = name + " (" + std::to_string(number) + "/" + std::to_string(count) + ")";
    fraction_ = count > 0 ? static_cast<double>(number - 1) / count : 0.0;
    Update(database_);
  }

  void MergedRecords(const std::string& table, long long records) override {
    Update(database_ + ": " + table + ", " + std::to_string(records) + " records");
  }

  void Finish() override {
    if (window_ == nullptr) return;
    gtk_widget_destroy(window_);
    window_ = nullptr;
    gdk_display_flush(gdk_display_get_default());
  }

 private:
  static constexpr std::chrono::milliseconds kProgressDelay{1000};

  void Update(const std::string& text) {
    auto now = std::chrono::steady_clock::now();
    if (window_ == nullptr && now - start_ < kProgressDelay) return;
    if (window_ == nullptr) Open();
    gtk_label_set_text(GTK_LABEL(label_), ValidUtf8(text).c_str());
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar_), fraction_);
    ProcessEvents();
  }

  void Open() {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), kProgramTitle);
    gtk_window_set_default_size(GTK_WINDOW(window_), 420, -1);
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    gtk_window_set_deletable(GTK_WINDOW(window_), FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(window_), 12);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    label_ = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(label_), 0.0);
    bar_ = gtk_progress_bar_new();
    gtk_box_pack_start(GTK_BOX(box), label_, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), bar_, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window_), box);
    g_signal_connect(window_, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
    gtk_widget_show_all(window_);
  }

  std::chrono::steady_clock::time_point start_;
  std::string database_;
  double fraction_ = 0.0;
  GtkWidget* window_ = nullptr;
  GtkWidget* label_ = nullptr;
  GtkWidget* bar_ = nullptr;
};

// ---- User interface ---------------------------------------------------------

class GtkUserInterface : public UserInterface {
 public:
  MessageAnswer ShowMessage(const Message& message) override;
  std::unique_ptr<LogWindow> LoadLogWindow() override {
    return std::make_unique<GtkLogWindow>();
  }
};

MessageAnswer GtkUserInterface::ShowMessage(const Message& message) {
  GtkWidget* dialog = NewMessageDialog(message);
  // The dialog may be destroyed while it runs (the window system closing it);
  // the reference keeps it valid for the destroy below.
  g_object_ref(dialog);
  gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  g_object_unref(dialog);
  ProcessEvents();
  return AnswerFor(message.buttons, response);
}

}  // namespace

std::unique_ptr<UserInterface> NewGtkUserInterface() {
  if (!EnvironmentSet("DISPLAY") && !EnvironmentSet("WAYLAND_DISPLAY")) return nullptr;
  if (!InitGtk()) return nullptr;
  return std::make_unique<GtkUserInterface>();
}

std::unique_ptr<ProgressDisplay> NewGtkProgressWindow() {
  return std::make_unique<GtkProgressWindow>();
}

}  // namespace tabsync::platform
