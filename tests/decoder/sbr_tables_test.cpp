// SBR tables tests.
