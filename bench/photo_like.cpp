#include "photo_like.h"

#include <cmath>

#include <opencv2/imgproc.hpp>

cv::Mat photoLike(cv::Size size) {
    cv::Mat image(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y) {
        auto* row = image.ptr<cv::Vec3b>(y);
        for (int x = 0; x < size.width; ++x) {
            const double u = static_cast<double>(x) / size.width;
            const double v = static_cast<double>(y) / size.height;
            row[x] = cv::Vec3b(cv::saturate_cast<uchar>(60 + 120 * v + 30 * std::sin(9 * u)),
                               cv::saturate_cast<uchar>(90 + 80 * u * v + 25 * std::cos(7 * v)),
                               cv::saturate_cast<uchar>(140 + 90 * u - 60 * v));
        }
    }
    cv::RNG rng(2024);
    for (int i = 0; i < 400; ++i) {
        const cv::Point centre(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const cv::Scalar colour(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
        const int radius = rng.uniform(size.width / 200 + 1, size.width / 12 + 2);
        if (i % 2) {
            cv::circle(image, centre, radius, colour, cv::FILLED, cv::LINE_AA);
        } else {
            cv::rectangle(image, cv::Rect(centre, cv::Size(radius, radius / 2 + 1)), colour, cv::FILLED);
        }
    }
    cv::GaussianBlur(image, image, cv::Size(0, 0), 1.2);
    cv::Mat noise(size, CV_8UC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 6);
    cv::add(image, noise, image, cv::noArray(), CV_8UC3);
    return image;
}

