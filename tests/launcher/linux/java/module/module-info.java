module vtest.mod {
}
