// (scaffold: filled in by its module's work)
