// Replaced by the application object and main frame.
