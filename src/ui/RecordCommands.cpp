#include "ui/QuillpostTreeView.h"

// Record commands: users, groups and service providers.
void CQuillpostTreeView::OnNewUser() { }
void CQuillpostTreeView::OnEditUser() { }
void CQuillpostTreeView::OnDeleteUser() { }
void CQuillpostTreeView::OnNewGroup() { }
void CQuillpostTreeView::OnEditGroup() { }
void CQuillpostTreeView::OnDeleteGroup() { }
void CQuillpostTreeView::OnNewServiceProvider() { }
void CQuillpostTreeView::OnEditServiceProvider() { }
void CQuillpostTreeView::OnDeleteServiceProvider() { }
