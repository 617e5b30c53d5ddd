// Replaced by the modem list and connection.
