#include "ui/QuillpostTreeView.h"

// Message commands.
void CQuillpostTreeView::OnNewMessage() { }
void CQuillpostTreeView::OnResendMessage() { }
void CQuillpostTreeView::OnDeleteMessage() { }
