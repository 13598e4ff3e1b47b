// SBR qmf tests.
