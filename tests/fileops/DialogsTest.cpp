// Filled in with the file commands.
