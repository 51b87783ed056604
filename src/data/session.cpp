#include "data/session.h"

#include <algorithm>

namespace vantrelle {

Cursor::Cursor(Session* session) : session_(session) { session_->cursors_.push_back(this); }

Cursor::~Cursor() { Detach(); }

void Cursor::Detach() {
  if (session_ == nullptr) return;
  auto& list = session_->cursors_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  session_ = nullptr;
}

void Session::ReleaseCursors() {
  std::vector<Cursor*> alive;
  alive.swap(cursors_);
  for (Cursor* cursor : alive) {
    cursor->session_ = nullptr;
    cursor->ReleaseStatement();
  }
}

}  // namespace vantrelle
