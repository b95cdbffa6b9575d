// Message dumps of device and protocol messages.
