// The program of a layer's link check: it does nothing, the check is that it links.
int main() {
    return 0;
}
