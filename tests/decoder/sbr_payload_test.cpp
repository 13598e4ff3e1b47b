// SBR payload tests.
