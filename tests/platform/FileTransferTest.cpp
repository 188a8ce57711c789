// Filled in with the file transfer.
