#pragma once

namespace vitalon::sim {

// Brings the internal rate down to the output rate by averaging each run of
// `factor` consecutive values into one. The average has zeros at every multiple
// of the output rate, so it also keeps hum from folding onto DC.
class Decimator {
public:
    explicit Decimator(int factor) : factor_(factor) {}

    // A new factor starts a new window; a partly filled one is dropped.
    void setFactor(int factor) {
        factor_ = factor;
        reset();
    }
    int factor() const { return factor_; }

    // Adds one value; true when this completes a window, its mean in `out`.
    bool push(double x, double& out) {
        sum_ += x;
        if (++count_ < factor_) {
            return false;
        }
        out = sum_ / factor_;
        reset();
        return true;
    }

    bool atWindowStart() const { return count_ == 0; }

    void reset() {
        sum_ = 0.0;
        count_ = 0;
    }

private:
    int factor_;
    int count_ = 0;
    double sum_ = 0.0;
};

}  // namespace vitalon::sim
